#include "session_settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <string_view>

#include "document/replacing_file.h"

namespace tarrowin::remote {

namespace {

constexpr std::string_view kHeader = "# Tarrowin session settings";
// A device's name is what a system calls a port; far shorter than this.
constexpr size_t kMaxDeviceName = 1024;

bool printable(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

// Applies one "key=value" line; the reason when it is refused.
std::optional<std::string> readLine(std::string_view key, std::string_view value, SessionSettings& s) {
    if (key == "device") {
        if (value.size() > kMaxDeviceName || !printable(value)) return "device is not a device's name";
        s.device = std::string(value);
    } else if (key == "percussion-channel") {
        int32_t channel = -1;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), channel);
        if (ec != std::errc{} || end != value.data() + value.size() || channel < 0 || channel > 15)
            return "percussion-channel takes 0 to 15";
        s.percussionChannel = channel;
    } else if (key == "window") {
        if (value != "shown" && value != "hidden") return "window takes shown or hidden";
        s.windowShown = value == "shown";
    }
    // Other keys are a newer Tarrowin's: left for it.
    return std::nullopt;
}

}  // namespace

SessionFiles sessionFiles(const std::string& path) { return {path + ".trw", path + ".settings"}; }

SessionSettings readSessionSettings(const std::string& file, std::vector<std::string>& problems) {
    SessionSettings s;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 && errno == ENOENT) return s;
    std::vector<uint8_t> bytes;
    if (const std::string why = readRegularFile(file, kMaxSessionSettingsSize, bytes); !why.empty()) {
        problems.push_back(file + ": " + why);
        return s;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    size_t start = 0;
    for (int line = 1; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view row = text.substr(start, end - start);
        start = end + 1;
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        if (row.empty() || row.front() == '#') continue;
        const size_t equals = row.find('=');
        const auto refused = equals == std::string_view::npos
                                 ? std::optional<std::string>("not a setting")
                                 : readLine(row.substr(0, equals), row.substr(equals + 1), s);
        if (refused) problems.push_back(file + ", line " + std::to_string(line) + ": " + *refused);
    }
    return s;
}

std::string writeSessionSettings(const std::string& file, const SessionSettings& s) {
    std::string text = std::string(kHeader) + "\n";
    if (!s.device.empty() && s.device.size() <= kMaxDeviceName && printable(s.device)) text += "device=" + s.device + "\n";
    if (s.percussionChannel) text += "percussion-channel=" + std::to_string(*s.percussionChannel) + "\n";
    text += std::string("window=") + (s.windowShown ? "shown" : "hidden") + "\n";
    ReplacingFile out;
    if (!out.open(file) || !out.write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) || !out.commit())
        return out.error();
    return {};
}

}  // namespace tarrowin::remote
