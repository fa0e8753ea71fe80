#include "tuning.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarrowin {

namespace {

// The equal-tempered frequency of middle C (key 60) with A = 440 Hz.
const double kMiddleCFrequency = 440.0 * std::pow(2.0, -9.0 / 12.0);

struct Line {
    int number;
    std::string_view text;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    int number = 1;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back({number++, line});
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isComment(std::string_view line) { return !line.empty() && line.front() == '!'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The value on a line: its first word. Whatever follows a blank is a label and ignored.
std::string_view firstWord(std::string_view line) {
    line = trim(line);
    size_t end = 0;
    while (end < line.size() && !isBlank(line[end])) ++end;
    return line.substr(0, end);
}

// Text quoted for a message, cut short when long.
std::string quoted(std::string_view s) {
    constexpr size_t kShown = 40;
    std::string text(s.substr(0, kShown));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return "\"" + text + (s.size() > kShown ? "...\"" : "\"");
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number of digits only, up to `max`; none otherwise (too large included).
std::optional<int64_t> wholeNumber(std::string_view s, int64_t max) {
    if (!allDigits(s) || s.size() > 18) return std::nullopt;
    int64_t value = 0;
    std::from_chars(s.data(), s.data() + s.size(), value);
    if (value > max) return std::nullopt;
    return value;
}

// A decimal number: an optional sign, digits with at most one period, at least one digit.
// No exponent, no "inf" or "nan".
std::optional<double> decimalNumber(std::string_view s) {
    std::string_view body = s;
    bool negative = false;
    if (!body.empty() && (body.front() == '-' || body.front() == '+')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    const size_t point = body.find('.');
    const std::string_view whole = body.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : body.substr(point + 1);
    const auto digitsOrEmpty = [](std::string_view d) { return d.empty() || allDigits(d); };
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if (!digitsOrEmpty(whole) || !digitsOrEmpty(fraction)) return std::nullopt;
    // from_chars wants digits on at least one side of the point and no sign of ours.
    double value = 0;
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != body.data() + body.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::string at(const Line& line) { return "line " + std::to_string(line.number) + ": "; }

struct Failure {
    std::string message;
};

// The lines that carry values, in order; comment lines are skipped.
class ValueLines {
   public:
    explicit ValueLines(std::string_view text) : lines_(splitLines(text)) {}

    // The next line that is not a comment; `what` names the value for a file that ends.
    const Line& next(const std::string& what) {
        while (pos_ < lines_.size() && isComment(lines_[pos_].text)) ++pos_;
        if (pos_ >= lines_.size()) {
            throw Failure{"the file ends before " + what + " (after line " + std::to_string(lines_.size()) + ")"};
        }
        return lines_[pos_++];
    }
    // Whether a value line follows; blank lines and comments at the end are allowed.
    std::optional<Line> remaining() {
        while (pos_ < lines_.size() && (isComment(lines_[pos_].text) || trim(lines_[pos_].text).empty())) ++pos_;
        if (pos_ >= lines_.size()) return std::nullopt;
        return lines_[pos_];
    }
    std::optional<Line> peekValue() {
        while (pos_ < lines_.size() && isComment(lines_[pos_].text)) ++pos_;
        if (pos_ >= lines_.size()) return std::nullopt;
        return lines_[pos_];
    }

   private:
    std::vector<Line> lines_;
    size_t pos_ = 0;
};

// The value of a line that must hold one; an empty line is named as such.
std::string_view valueOf(const Line& line, const std::string& what) {
    const std::string_view word = firstWord(line.text);
    if (word.empty()) throw Failure{at(line) + what + " is missing: the line is empty"};
    return word;
}

int64_t wholeValue(const Line& line, const std::string& what, int64_t min, int64_t max) {
    const std::string_view word = valueOf(line, what);
    const std::optional<int64_t> value = wholeNumber(word, max);
    if (!value || *value < min) {
        throw Failure{at(line) + what + " must be a whole number from " + std::to_string(min) + " to " +
                      std::to_string(max) + ", not " + quoted(word)};
    }
    return *value;
}

double pitchCents(const Line& line, int degree) {
    const std::string what = "degree " + std::to_string(degree);
    const std::string_view word = valueOf(line, what);
    if (word.find('.') != std::string_view::npos) {
        const std::optional<double> cents = decimalNumber(word);
        if (!cents) throw Failure{at(line) + what + " is not a number of cents: " + quoted(word)};
        if (std::abs(*cents) > kMaxDegreeCents) {
            throw Failure{at(line) + what + " lies more than " + std::to_string(static_cast<int64_t>(kMaxDegreeCents)) +
                          " cents from 1/1: " + quoted(word)};
        }
        return *cents;
    }
    if (!word.empty() && word.front() == '-') throw Failure{at(line) + what + " is a negative ratio: " + quoted(word)};
    const size_t slash = word.find('/');
    const std::string_view top = word.substr(0, slash);
    const std::string_view bottom = slash == std::string_view::npos ? std::string_view("1") : word.substr(slash + 1);
    constexpr int64_t kLargest = 2147483647;
    if (!allDigits(top) || !allDigits(bottom)) {
        throw Failure{at(line) + what + " is neither a ratio nor cents: " + quoted(word)};
    }
    const std::optional<int64_t> n = wholeNumber(top, kLargest);
    const std::optional<int64_t> d = wholeNumber(bottom, kLargest);
    if (!n || !d) throw Failure{at(line) + what + " has a term above 2147483647: " + quoted(word)};
    if (*n == 0 || *d == 0) throw Failure{at(line) + what + " has a term of 0: " + quoted(word)};
    return 1200.0 * std::log2(static_cast<double>(*n) / static_cast<double>(*d));
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

double ScalaScale::degreeCents(int64_t d) const {
    const int64_t n = degrees();
    const int64_t periods = floorDiv(d, n);
    const int64_t within = d - periods * n;
    return static_cast<double>(periods) * period() + (within == 0 ? 0.0 : cents[static_cast<size_t>(within - 1)]);
}

KeyboardMap KeyboardMap::standard() {
    KeyboardMap m;
    m.referenceFrequency = kMiddleCFrequency;
    return m;
}

std::optional<int64_t> KeyboardMap::degreeOf(int key, int scaleDegrees) const {
    const int64_t d = int64_t{key} - middleKey;
    if (size == 0) return d;
    const int64_t pattern = floorDiv(d, size);
    const auto entry = static_cast<size_t>(d - pattern * size);
    if (entry >= mapping.size() || !mapping[entry]) return std::nullopt;
    const int64_t octave = octaveDegree == 0 ? scaleDegrees : octaveDegree;
    return *mapping[entry] + pattern * octave;
}

TuningRead<ScalaScale> readScalaScale(std::string_view text) {
    if (text.size() > kMaxTuningTextBytes) return {std::nullopt, "the file is larger than 1 MB"};
    try {
        ValueLines lines(text);
        ScalaScale scale;
        const Line& description = lines.next("its description");
        scale.description = std::string(trim(description.text));
        const Line& countLine = lines.next("the number of notes");
        const auto count = wholeValue(countLine, "the number of notes", 0, kMaxScaleDegrees);
        if (count == 0) {
            throw Failure{at(countLine) + "the scale has no notes; it needs at least one, the period at which it repeats"};
        }
        scale.cents.reserve(static_cast<size_t>(count));
        Line last = countLine;
        for (int degree = 1; degree <= count; ++degree) {
            last = lines.next("degree " + std::to_string(degree) + " of " + std::to_string(count));
            scale.cents.push_back(pitchCents(last, degree));
        }
        if (!(scale.period() > 0.0)) {
            throw Failure{at(last) + "the last degree is the period at which the scale repeats; it must lie above 1/1"};
        }
        if (const auto extra = lines.remaining()) {
            throw Failure{at(*extra) + "the scale has " + std::to_string(count) + " notes, but more follow: " +
                          quoted(trim(extra->text))};
        }
        return {std::move(scale), {}};
    } catch (const Failure& f) {
        return {std::nullopt, f.message};
    }
}

TuningRead<KeyboardMap> readKeyboardMap(std::string_view text) {
    if (text.size() > kMaxTuningTextBytes) return {std::nullopt, "the file is larger than 1 MB"};
    try {
        ValueLines lines(text);
        KeyboardMap map;
        const auto key = [&](const std::string& what) {
            return static_cast<int>(wholeValue(lines.next(what), what, 0, kMidiKeys - 1));
        };
        map.size = static_cast<int>(wholeValue(lines.next("the size of the map"), "the size of the map", 0, kMaxMapSize));
        map.firstKey = key("the first key to retune");
        const Line& lastLine = lines.next("the last key to retune");
        map.lastKey = static_cast<int>(wholeValue(lastLine, "the last key to retune", 0, kMidiKeys - 1));
        if (map.lastKey < map.firstKey) {
            throw Failure{at(lastLine) + "the last key to retune (" + std::to_string(map.lastKey) +
                          ") lies below the first (" + std::to_string(map.firstKey) + ")"};
        }
        map.middleKey = key("the middle key");
        const Line& referenceLine = lines.next("the reference key");
        map.referenceKey = static_cast<int>(wholeValue(referenceLine, "the reference key", 0, kMidiKeys - 1));
        const Line& frequencyLine = lines.next("the reference frequency");
        const std::string_view frequency = valueOf(frequencyLine, "the reference frequency");
        const std::optional<double> hz = decimalNumber(frequency);
        if (!hz || !(*hz > 0.0) || *hz > kMaxReferenceFrequency) {
            throw Failure{at(frequencyLine) + "the reference frequency must be a number of Hz above 0 and up to " +
                          std::to_string(static_cast<int>(kMaxReferenceFrequency)) + ", not " + quoted(frequency)};
        }
        map.referenceFrequency = *hz;
        map.octaveDegree =
            static_cast<int>(wholeValue(lines.next("the octave degree"), "the octave degree", 0, kMaxScaleDegrees));
        for (int entry = 0; entry < map.size; ++entry) {
            const std::optional<Line> line = lines.peekValue();
            if (!line || trim(line->text).empty()) break;  // the entries left out are unmapped
            lines.next("an entry");
            const std::string what = "entry " + std::to_string(entry) + " of the map";
            const std::string_view word = firstWord(line->text);
            if (word == "x" || word == "X") {
                map.mapping.emplace_back();
                continue;
            }
            map.mapping.emplace_back(static_cast<int>(wholeValue(*line, what + " (a scale degree or x)", 0, kMaxScaleDegrees)));
        }
        if (const auto extra = lines.remaining()) {
            throw Failure{at(*extra) + "the map has " + std::to_string(map.size) + " entries, but more follow: " +
                          quoted(trim(extra->text))};
        }
        if (!map.degreeOf(map.referenceKey, 1)) {
            throw Failure{at(referenceLine) + "the reference key " + std::to_string(map.referenceKey) +
                          " falls on a key the map leaves unmapped, so its frequency tunes nothing"};
        }
        return {std::move(map), {}};
    } catch (const Failure& f) {
        return {std::nullopt, f.message};
    }
}

bool isUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= bytes.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string tuningTextAsUtf8(std::string_view bytes) {
    if (isUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

Tuning::Tuning() : scale_(), map_(KeyboardMap::standard()) {
    scale_.description = "12-tone equal temperament";
    for (int d = 1; d <= 12; ++d) scale_.cents.push_back(100.0 * d);
    for (int k = 0; k < kMidiKeys; ++k) keys_[static_cast<size_t>(k)] = KeyPitch{true, static_cast<double>(k), k - 60};
}

Tuning::Tuning(std::string scaleText, std::string mapText, ScalaScale scale, KeyboardMap map)
    : scaleText_(std::move(scaleText)), mapText_(std::move(mapText)), scale_(std::move(scale)), map_(std::move(map)) {
    computeKeys();
}

TuningRead<Tuning> Tuning::fromText(std::string scaleText, std::string mapText) {
    TuningRead<ScalaScale> scale = readScalaScale(scaleText);
    if (!scale.ok()) return {std::nullopt, "scale, " + scale.error};
    KeyboardMap map = KeyboardMap::standard();
    if (!mapText.empty()) {
        TuningRead<KeyboardMap> read = readKeyboardMap(mapText);
        if (!read.ok()) return {std::nullopt, "keyboard map, " + read.error};
        map = std::move(*read.value);
    }
    return {Tuning(std::move(scaleText), std::move(mapText), std::move(*scale.value), std::move(map)), {}};
}

TuningRead<Tuning> Tuning::withMap(std::string mapText) const {
    if (!isEqualTemperament()) return fromText(scaleText_, std::move(mapText));
    if (mapText.empty()) return {Tuning(), {}};
    std::string equal = "12-tone equal temperament\n12\n";
    for (int d = 1; d < 12; ++d) equal += std::to_string(100 * d) + ".0\n";
    return fromText(equal + "2/1\n", std::move(mapText));
}

void Tuning::computeKeys() {
    const int n = scale_.degrees();
    // The reader made sure that the reference key is mapped.
    const int64_t referenceDegree = map_.degreeOf(map_.referenceKey, n).value_or(0);
    const double base = 6900.0 + 1200.0 * std::log2(map_.referenceFrequency / 440.0) - scale_.degreeCents(referenceDegree);
    for (int k = 0; k < kMidiKeys; ++k) {
        KeyPitch& p = keys_[static_cast<size_t>(k)];
        p = KeyPitch{true, static_cast<double>(k), std::nullopt};
        if (k < map_.firstKey || k > map_.lastKey) continue;
        p.degree = map_.degreeOf(k, n);
        if (!p.degree) {
            p.mapped = false;
            continue;
        }
        p.pitch = (base + scale_.degreeCents(*p.degree)) / 100.0;
    }
}

std::string Tuning::description() const { return scale_.description; }

std::optional<int> Tuning::degreeInPeriod(int k) const {
    const KeyPitch& p = key(k);
    if (!p.mapped || !p.degree) return std::nullopt;
    const int64_t n = scale_.degrees();
    return static_cast<int>(*p.degree - floorDiv(*p.degree, n) * n);
}

bool TuningSettings::isDefault() const {
    return tuning.isEqualTemperament() && method == TuningMethod::Mts &&
           std::all_of(tuned.begin(), tuned.end(), [](bool t) { return t; });
}

std::string_view tuningMethodName(TuningMethod method) { return method == TuningMethod::PitchBend ? "bend" : "mts"; }

std::optional<TuningMethod> tuningMethodNamed(std::string_view name) {
    if (name == "mts") return TuningMethod::Mts;
    if (name == "bend") return TuningMethod::PitchBend;
    return std::nullopt;
}

std::string_view tuningMethodLabel(TuningMethod method) {
    return method == TuningMethod::PitchBend ? "Pitch bend" : "MIDI Tuning Standard";
}

}  // namespace tarrowin
