#pragma once
// What Tarrowin keeps of a session besides its document: the MIDI output chosen, the
// percussion channel and whether the window was shown, in a small text file beside the
// document, so that a session opens as it was saved without asking for a device.
//
//   # Tarrowin session settings
//   device=JACK: Tarrowin (virtual port)
//   percussion-channel=9
//   window=shown
//
// A line that cannot be read is reported and left out; a setting left out keeps its default.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarrowin::remote {

// The files of a session client at `path` (the manager's path, without an extension).
struct SessionFiles {
    std::string document;  // path.trw
    std::string settings;  // path.settings
};
SessionFiles sessionFiles(const std::string& path);

struct SessionSettings {
    std::string device;                      // as "MidiOut Setup" lists it; empty: none chosen yet
    std::optional<int32_t> percussionChannel;  // 0..15
    bool windowShown = true;
    bool operator==(const SessionSettings&) const = default;
};

// The largest settings file read; a larger one is not Tarrowin's.
inline constexpr size_t kMaxSessionSettingsSize = 64 * 1024;

// Reads the file; a missing file gives the defaults. `problems` receives one text for each
// line left out and for a file that could not be read at all.
SessionSettings readSessionSettings(const std::string& file, std::vector<std::string>& problems);
// Writes the file through ReplacingFile; "" on success, else why not.
std::string writeSessionSettings(const std::string& file, const SessionSettings& settings);

}  // namespace tarrowin::remote
