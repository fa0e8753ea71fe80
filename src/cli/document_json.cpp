#include "document_json.h"

#include "document/document_file.h"
#include "document/replacing_file.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarrowin::cli {

namespace {

constexpr const char* kReserved = "reserved";
constexpr const char* kCurrent = "current";
constexpr const char* kEvents = "events";
constexpr const char* kVoicesKey = "voices";
constexpr const char* kTuning = "tuning";
constexpr const char* kScaleText = "scale";
constexpr const char* kMapText = "keyboardMap";
constexpr const char* kMethod = "method";
constexpr const char* kTuned = "tuned";
const std::string kDocumentPlace = "Document";

// The decimal text of a float is the shortest that reads back as the same float; a double
// holding that text is stored when it converts back exactly, else the float's exact value.
Json floatToJson(float value) {
    const std::string text = formatFloat(value);
    const double shortest = std::strtod(text.c_str(), nullptr);
    if (static_cast<float>(shortest) == value) return shortest;
    return static_cast<double>(value);
}

Json listToJson(const ScaleList& list) {
    Json values = Json::array();
    for (int i = 0; i < list.count; ++i) values.push_back(list[i]);
    return values;
}

Json settingsToJson(const Settings& s) {
    Json out = Json::object();
    for (const auto& rule : kGlobalRules) out[std::string(rule.name)] = rule.get(s.global);
    Json voices = Json::array();
    for (int v = 0; v < kVoices; ++v) {
        const VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        Json jv = Json::object();
        for (const auto& rule : kVoiceIntRules) jv[std::string(rule.name)] = rule.get(voice);
        for (const auto& rule : kVoiceFloatRules) jv[std::string(rule.name)] = floatToJson(voice.*rule.member);
        for (const auto& rule : kVoiceListRules) jv[std::string(rule.name)] = listToJson(voice.*rule.member);
        voices.push_back(std::move(jv));
    }
    out[kVoicesKey] = std::move(voices);
    return out;
}

struct JsonFailure {
    std::string message;
};

std::string typeName(const Json& j) {
    if (j.is_number_integer()) return "an integer";
    if (j.is_number()) return "a number with a fraction";
    if (j.is_object()) return "an object";
    if (j.is_array()) return "a list";
    if (j.is_string()) return "a string";
    if (j.is_boolean()) return "true or false";
    return "null";
}

[[noreturn]] void refuse(std::string message) { throw JsonFailure{std::move(message)}; }

// The object's keys must be exactly `expected`: a typo is reported, not silently ignored.
void checkKeys(const Json& object, const std::vector<std::string>& expected, const std::string& place) {
    if (!object.is_object()) refuse(place + ": must be an object, not " + typeName(object));
    const std::set<std::string> known(expected.begin(), expected.end());
    for (const auto& item : object.items()) {
        if (!known.count(item.key())) refuse(place + ": unknown field \"" + item.key() + "\"");
    }
    for (const auto& key : expected) {
        if (!object.contains(key)) refuse(place + ": field \"" + key + "\" is missing");
    }
}

int64_t integerOf(const Json& j, std::string_view name, const std::string& place) {
    if (!j.is_number_integer()) refuse(place + ": " + std::string(name) + " must be an integer, not " + typeName(j));
    if (j.is_number_unsigned()) {
        const auto u = j.get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                               : static_cast<int64_t>(u);
    }
    return j.get<int64_t>();
}

template <class Record>
void readInt(const IntRule<Record>& rule, const Json& object, Record& record, const ValueLocation& where) {
    const int64_t value = integerOf(object.at(std::string(rule.name)), rule.name, where.describe());
    if (auto m = checkInt(rule, value, where); !m.empty()) refuse(m);
    rule.set(record, static_cast<int32_t>(value));
}

void readFloat(const FloatRule& rule, const Json& object, VoiceSettings& voice, const ValueLocation& where) {
    const Json& j = object.at(std::string(rule.name));
    if (!j.is_number()) refuse(where.describe() + ": " + std::string(rule.name) + " must be a number, not " + typeName(j));
    const double value = j.get<double>();
    if (auto m = checkFloat(rule, value, where); !m.empty()) refuse(m);
    voice.*rule.member = *nearestFloat(value);
}

void readList(const ListRule& rule, const Json& object, VoiceSettings& voice, const ValueLocation& where) {
    const Json& j = object.at(std::string(rule.name));
    const std::string name(rule.name);
    if (!j.is_array()) refuse(where.describe() + ": " + name + " must be a list of integers, not " + typeName(j));
    if (auto m = checkListCount(rule.name, static_cast<int64_t>(j.size()), where); !m.empty()) refuse(m);
    ScaleList list;
    for (const Json& item : j) {
        const int64_t value = integerOf(item, name + " values", where.describe());
        if (auto m = checkListValue(rule.name, value, where); !m.empty()) refuse(m);
        list.push(static_cast<int32_t>(value));
    }
    voice.*rule.member = list;
}

Settings settingsFromJson(const Json& object, int event) {
    const ValueLocation globalPlace{event, -1};
    std::vector<std::string> keys;
    for (const auto& rule : kGlobalRules) keys.emplace_back(rule.name);
    keys.emplace_back(kVoicesKey);
    checkKeys(object, keys, globalPlace.describe());

    Settings s = Settings::defaults();
    for (const auto& rule : kGlobalRules) readInt(rule, object, s.global, globalPlace);

    const Json& voices = object.at(kVoicesKey);
    if (!voices.is_array() || voices.size() != static_cast<size_t>(kVoices)) {
        refuse(globalPlace.describe() + ": voices must be a list of " + std::to_string(kVoices) + " voices, not " +
               (voices.is_array() ? std::to_string(voices.size()) : typeName(voices)));
    }
    std::vector<std::string> voiceKeys;
    for (const auto& rule : kVoiceIntRules) voiceKeys.emplace_back(rule.name);
    for (const auto& rule : kVoiceFloatRules) voiceKeys.emplace_back(rule.name);
    for (const auto& rule : kVoiceListRules) voiceKeys.emplace_back(rule.name);
    for (int v = 0; v < kVoices; ++v) {
        const Json& jv = voices.at(static_cast<size_t>(v));
        const ValueLocation where{event, v};
        checkKeys(jv, voiceKeys, where.describe());
        VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        for (const auto& rule : kVoiceIntRules) readInt(rule, jv, voice, where);
        for (const auto& rule : kVoiceFloatRules) readFloat(rule, jv, voice, where);
        for (const auto& rule : kVoiceListRules) readList(rule, jv, voice, where);
    }
    return s;
}

// The tuning as an object: the .scl and .kbm text ("" for none), the method by its
// command-line name, and the 16 Tuned switches.
Json tuningToJson(const TuningSettings& t) {
    Json out = Json::object();
    out[kScaleText] = t.tuning.scaleText();
    out[kMapText] = t.tuning.mapText();
    out[kMethod] = std::string(tuningMethodName(t.method));
    Json tuned = Json::array();
    for (const bool on : t.tuned) tuned.push_back(on);
    out[kTuned] = std::move(tuned);
    return out;
}

std::string stringOf(const Json& j, const char* name) {
    if (!j.is_string()) refuse("Tuning: " + std::string(name) + " must be a string, not " + typeName(j));
    return j.get<std::string>();
}

std::shared_ptr<const TuningSettings> tuningFromJson(const Json& object) {
    checkKeys(object, {kScaleText, kMapText, kMethod, kTuned}, "Tuning");
    TuningSettings t;
    const std::string method = stringOf(object.at(kMethod), kMethod);
    if (const auto m = tuningMethodNamed(method)) {
        t.method = *m;
    } else {
        refuse("Tuning: method is \"" + method + "\"; it is \"mts\" or \"bend\"");
    }
    const Json& tuned = object.at(kTuned);
    if (!tuned.is_array() || tuned.size() != static_cast<size_t>(kVoices)) {
        refuse("Tuning: tuned must be a list of " + std::to_string(kVoices) + " true or false, not " +
               (tuned.is_array() ? std::to_string(tuned.size()) + " values" : typeName(tuned)));
    }
    for (int v = 0; v < kVoices; ++v) {
        const Json& on = tuned[static_cast<size_t>(v)];
        if (!on.is_boolean()) refuse("Tuning: tuned of voice " + std::to_string(v + 1) + " must be true or false, not " + typeName(on));
        t.tuned[static_cast<size_t>(v)] = on.get<bool>();
    }
    std::string scale = stringOf(object.at(kScaleText), kScaleText);
    std::string map = stringOf(object.at(kMapText), kMapText);
    if (scale.empty() && !map.empty()) refuse("Tuning: a keyboardMap needs a scale");
    if (!scale.empty()) {
        TuningRead<Tuning> read = Tuning::fromText(std::move(scale), std::move(map));
        if (!read.ok()) refuse("Tuning: " + read.error);
        t.tuning = std::move(*read.value);
    }
    return t.isDefault() ? nullptr : std::make_shared<const TuningSettings>(std::move(t));
}

}  // namespace

Json documentToJson(const CTarrowinDoc& doc) {
    Json out = Json::object();
    out[kReserved] = doc.reserved();
    out[kCurrent] = settingsToJson(doc.current());
    Json events = Json::array();
    for (const auto& e : doc.composition().events()) events.push_back(settingsToJson(e));
    out[kEvents] = std::move(events);
    if (!doc.tuning().isDefault()) out[kTuning] = tuningToJson(doc.tuning());
    return out;
}

FileResult documentFromJson(const Json& json, CTarrowinDoc& doc) {
    try {
        const bool tuned = json.is_object() && json.contains(kTuning);
        checkKeys(json, tuned ? std::vector<std::string>{kReserved, kCurrent, kEvents, kTuning}
                              : std::vector<std::string>{kReserved, kCurrent, kEvents},
                  kDocumentPlace);
        const int64_t reserved = integerOf(json.at(kReserved), kReserved, kDocumentPlace);
        if (reserved < std::numeric_limits<int32_t>::min() || reserved > std::numeric_limits<int32_t>::max()) {
            refuse("Document: reserved is " + std::to_string(reserved) + ", outside " +
                   std::to_string(std::numeric_limits<int32_t>::min()) + ".." +
                   std::to_string(std::numeric_limits<int32_t>::max()));
        }
        const Settings current = settingsFromJson(json.at(kCurrent), -1);
        const Json& events = json.at(kEvents);
        if (!events.is_array()) refuse("Document: events must be a list, not " + typeName(events));
        if (events.size() > static_cast<size_t>(kMaxEvents)) {
            refuse("Document: events holds " + std::to_string(events.size()) + " events; at most " +
                   std::to_string(kMaxEvents) + " are allowed");
        }
        Composition composition;
        for (size_t i = 0; i < events.size(); ++i) composition.append(settingsFromJson(events[i], static_cast<int>(i)));
        if (auto check = validateDocument(current, composition.events()); !check.ok) return check;
        const auto tuning = tuned ? tuningFromJson(json.at(kTuning)) : nullptr;
        doc.replaceContents(current, static_cast<int32_t>(reserved), composition, tuning);
        return {};
    } catch (const JsonFailure& failure) {
        return FileResult::failure(failure.message);
    }
}

namespace {

struct TooDeep {};

// The library's message without its "[json.exception.parse_error.101] " tag.
std::string jsonMessage(const Json::exception& e) {
    std::string what = e.what();
    if (const auto tag = what.find("] "); what.rfind("[json.exception", 0) == 0 && tag != std::string::npos) {
        what.erase(0, tag + 2);
    }
    // out_of_range 406: "number overflow parsing '1e999'".
    if (const auto quote = what.find(" parsing '"); e.id == 406 && quote != std::string::npos) {
        std::string number = what.substr(quote + 10);
        if (!number.empty() && number.back() == '\'') number.pop_back();
        if (number.size() > 40) number = number.substr(0, 40) + "...";
        return "the number " + number + " is too large";
    }
    return what;
}

}  // namespace

FileResult documentFromJsonText(std::string_view text, CTarrowinDoc& doc) {
    // The JSON library takes a NUL byte for the end of the text, and would accept a value
    // followed by one and anything at all. JSON has no place for one, not even in a string.
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
        const std::string_view before = text.substr(0, nul);
        const size_t lineStart = before.rfind('\n');
        const size_t line = static_cast<size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
        const size_t column = nul - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
        return FileResult::failure("it is not valid JSON: a NUL byte at line " + std::to_string(line) + ", column " +
                                   std::to_string(column) + " (byte " + std::to_string(nul + 1) + ")");
    }
    // Each object and list is refused as it opens when it lies deeper than any document's,
    // so no deeply nested value is ever built (or destroyed).
    const Json::parser_callback_t limitDepth = [](int depth, Json::parse_event_t event, Json&) {
        const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && depth >= kMaxJsonDepth) throw TooDeep{};
        return true;
    };
    Json json;
    try {
        json = Json::parse(text.begin(), text.end(), limitDepth);
    } catch (const TooDeep&) {
        return FileResult::failure("it is nested deeper than a Tarrowin document (" + std::to_string(kMaxJsonDepth) +
                                   " levels)");
    } catch (const Json::exception& e) {
        return FileResult::failure("it is not valid JSON: " + jsonMessage(e));
    }
    auto result = documentFromJson(json, doc);
    if (!result.ok) result.message = "it is not a Tarrowin document: " + result.message;
    return result;
}

FileResult readDocumentJsonFile(const std::string& path, CTarrowinDoc& doc) {
    const auto fail = [&](const std::string& why) { return FileResult::failure("Cannot read \"" + path + "\": " + why); };
    std::vector<uint8_t> bytes;
    if (const std::string why = readRegularFile(path, kMaxDocumentFileSize, bytes); !why.empty()) return fail(why);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto result = documentFromJsonText(text, doc); !result.ok) return fail(result.message);
    return {};
}

}  // namespace tarrowin::cli
