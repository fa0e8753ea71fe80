#include "osc_request.h"

#include <lo/lo.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace tarrowin::remote {

namespace {

constexpr std::string_view kPrefix = "/tarrowin";
constexpr std::string_view kBundleTag{"#bundle\0", 8};
constexpr size_t kBundleHeader = 16;  // the tag and the time tag
// Bundles inside bundles: deeper ones are not read (no sender needs them, and each level
// would cost stack).
constexpr int kMaxBundleDepth = 8;
// How much of a received text an answer quotes.
constexpr size_t kQuoted = 40;

struct VoiceWord {
    std::string_view word;
    VoiceSetting setting;
};
constexpr std::array<VoiceWord, 8> kVoiceWords = {{
    {"param1", VoiceSetting::Param1},
    {"param2", VoiceSetting::Param2},
    {"offset", VoiceSetting::Offset},
    {"octaves", VoiceSetting::Octaves},
    {"note", VoiceSetting::Note},
    {"scale", VoiceSetting::Scale},
    {"notevalue", VoiceSetting::NoteValue},
    {"dynamic", VoiceSetting::Dynamic},
}};

// A received text as an answer shows it: printable ASCII, cut short.
std::string quoted(std::string_view text) {
    std::string q = "\"";
    for (size_t i = 0; i < text.size() && i < kQuoted; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        q += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    if (text.size() > kQuoted) q += "...";
    return q + "\"";
}

std::optional<int64_t> whole(double x) {
    // Beyond 2^53 a double no longer tells whole numbers apart; no setting comes near.
    if (!std::isfinite(x) || x != std::floor(x) || std::fabs(x) > 9.0e15) return std::nullopt;
    return static_cast<int64_t>(x);
}

// An argument's value. OSC aligns arguments to 4 bytes only, short of what lo_arg's union
// asks for: its bytes are copied rather than read through the union.
template <class T>
T argument(const lo_arg* a) {
    T value;
    std::memcpy(&value, a, sizeof value);
    return value;
}
const char* text(const lo_arg* a) { return reinterpret_cast<const char*>(a); }

std::optional<int64_t> wholeNumber(char type, const lo_arg* a) {
    switch (type) {
        case LO_INT32: return argument<int32_t>(a);
        case LO_INT64: return argument<int64_t>(a);
        case LO_FLOAT: return whole(argument<float>(a));
        case LO_DOUBLE: return whole(argument<double>(a));
        case LO_TRUE: return 1;
        case LO_FALSE: return 0;
        default: return std::nullopt;
    }
}

// A whole number from 1 to 16 written in plain digits.
std::optional<int> voiceNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 2 || digits[0] == '0') return std::nullopt;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= 16 ? std::optional<int>(n) : std::nullopt;
}

class MessageReader {
   public:
    MessageReader(std::string_view path, std::string_view types, lo_arg** argv)
        : path_(path), types_(types), argv_(argv) {}

    Reading read() const {
        std::string_view rest = path_.substr(kPrefix.size());
        if (rest == "/play") return button(RequestKind::Play);
        if (rest == "/stop") return button(RequestKind::Stop);
        if (rest == "/state") return Request{RequestKind::State};
        if (rest == "/mode") return mode();
        if (rest == "/tempo") return number(Request{RequestKind::Tempo});
        if (rest == "/counter/start") return number(Request{RequestKind::StartCounter});
        if (rest == "/counter/end") return number(Request{RequestKind::EndCounter});
        if (rest.substr(0, 7) == "/voice/") return voice(rest.substr(7));
        return unknown();
    }

   private:
    Refusal unknown() const { return {"Unknown message " + quoted(path_)}; }

    // Play and Stop: a press, or a button that sends 1 on its press and 0 on its release.
    Reading button(RequestKind kind) const {
        if (types_.empty()) return Request{kind};
        if (types_.size() == 1) {
            if (const auto v = wholeNumber(types_[0], argv_[0])) return *v == 0 ? Reading{} : Reading{Request{kind}};
        }
        return Refusal{std::string(path_) + " takes no argument, or one number"};
    }

    Reading mode() const {
        const Refusal refused{"/tarrowin/mode takes current or composition"};
        if (types_.size() != 1 || (types_[0] != LO_STRING && types_[0] != LO_SYMBOL)) return refused;
        const std::string_view word = text(argv_[0]);
        if (word == "current") return Request{RequestKind::Mode, -1, VoiceSetting::Param1, 0};
        if (word == "composition") return Request{RequestKind::Mode, -1, VoiceSetting::Param1, 1};
        return Refusal{refused.message + ", not " + quoted(word)};
    }

    Reading number(Request r) const {
        if (types_.size() == 1) {
            if (const auto v = wholeNumber(types_[0], argv_[0])) {
                r.value = *v;
                return r;
            }
        }
        return Refusal{std::string(path_) + " takes one whole number"};
    }

    Reading voice(std::string_view rest) const {
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return unknown();
        const std::string_view word = rest.substr(slash + 1);
        Request r{RequestKind::VoiceSetting};
        bool known = word == "on";
        if (known) r.kind = RequestKind::VoiceOn;
        for (const VoiceWord& w : kVoiceWords) {
            if (word == w.word) {
                r.setting = w.setting;
                known = true;
            }
        }
        if (!known) return unknown();
        const auto n = voiceNumber(rest.substr(0, slash));
        if (!n) return Refusal{"There is no voice " + quoted(rest.substr(0, slash)) + ": the voices are 1 to 16"};
        r.voice = *n - 1;
        return number(r);
    }

    std::string_view path_;
    std::string_view types_;
    lo_arg** argv_;
};

void readMessage(const uint8_t* data, size_t size, const std::function<void(Reading)>& take) {
    if (size < 4 || data[0] != '/') return;
    // liblo reads a copy that it may byte-swap in place; it checks every length against the
    // size before it reads.
    std::vector<uint8_t> copy(data, data + size);
    int result = 0;
    const std::unique_ptr<std::remove_pointer_t<lo_message>, decltype(&lo_message_free)> message(
        lo_message_deserialise(copy.data(), copy.size(), &result), &lo_message_free);
    if (!message) return;
    const std::string_view path(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    if (path != kPrefix && path.substr(0, kPrefix.size() + 1) != "/tarrowin/") return;
    const char* types = lo_message_get_types(message.get());
    take(MessageReader(path, types != nullptr ? types : "", lo_message_get_argv(message.get())).read());
}

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void readElement(const uint8_t* data, size_t size, const std::function<void(Reading)>& take, int depth) {
    if (size < kBundleTag.size() || std::memcmp(data, kBundleTag.data(), kBundleTag.size()) != 0) {
        readMessage(data, size, take);
        return;
    }
    if (depth >= kMaxBundleDepth || size < kBundleHeader) return;
    // The time tag is not kept: every message is taken as it arrives.
    size_t at = kBundleHeader;
    while (size - at >= 4) {
        const uint32_t length = bigEndian32(data + at);
        at += 4;
        if (length == 0 || length > size - at) return;  // a broken bundle: the rest is not read
        readElement(data + at, length, take, depth + 1);
        at += length;
    }
}

std::vector<uint8_t> serialise(lo_message m, const char* path) {
    std::vector<uint8_t> bytes(lo_message_length(m, path));
    size_t size = bytes.size();
    lo_message_serialise(m, path, bytes.data(), &size);
    lo_message_free(m);
    bytes.resize(size);
    return bytes;
}

}  // namespace

void readPacket(const uint8_t* data, size_t size, const std::function<void(Reading)>& take) {
    if (data != nullptr) readElement(data, size, take, 0);
}

std::vector<uint8_t> errorPacket(const std::string& message) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, message.c_str());
    return serialise(m, "/tarrowin/error");
}

std::vector<uint8_t> statePacket(const StateReport& state) {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, state.playing ? 1 : 0);
    lo_message_add_string(m, state.composition ? "composition" : "current");
    lo_message_add_int32(m, state.position);
    lo_message_add_int32(m, state.tempo);
    return serialise(m, "/tarrowin/state");
}

}  // namespace tarrowin::remote
