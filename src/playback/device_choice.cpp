#include "device_choice.h"

#include <RtMidi.h>
#include <fluidsynth.h>

#include <algorithm>
#include <cctype>

namespace tarrowin {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

DeviceChoice refused(std::string message) { return {false, -1, std::move(message)}; }
DeviceChoice chosen(size_t row) { return {true, static_cast<int32_t>(row) - 1, {}}; }

}  // namespace

DeviceChoice chooseDeviceByName(const std::vector<std::string>& rows, const std::string& wanted,
                                const std::string& listHint) {
    if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [](unsigned char c) { return std::isdigit(c); })) {
        const long row = wanted.size() > 6 ? -1 : std::stol(wanted);
        if (row < 0 || static_cast<size_t>(row) >= rows.size()) {
            return refused("There is no device " + wanted + ": the devices are numbered 0 to " +
                           std::to_string(rows.size() - 1) + listHint);
        }
        return chosen(static_cast<size_t>(row));
    }
    std::vector<size_t> matches;
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows[row] == wanted) return chosen(row);
        if (lower(rows[row]).find(lower(wanted)) != std::string::npos) matches.push_back(row);
    }
    if (matches.size() == 1) return chosen(matches.front());
    if (matches.empty()) return refused("No MIDI output device is named \"" + wanted + "\"" + listHint);
    std::string names;
    for (size_t row : matches) names += "\n  " + std::to_string(row) + "  " + rows[row];
    return refused("\"" + wanted + "\" names more than one device:" + names);
}

std::string synthesizerLibraryVersion() { return fluid_version_str(); }
std::string midiLibraryVersion() { return RtMidi::getVersion(); }

}  // namespace tarrowin
