#pragma once
// A device named the way a user names it on a command line: its row in "MidiOut Setup"
// (0 = "Midi Mapper"), its exact name, or a part of a name that only one device has.

#include <cstdint>
#include <string>
#include <vector>

namespace tarrowin {

struct DeviceChoice {
    bool ok = false;
    int32_t device = -1;  // the device id (-1: "Midi Mapper")
    std::string message;  // why nothing was chosen
};

// rows: the rows of "MidiOut Setup". `listHint` ends the messages, e.g. " (see tarrowin-cli devices)".
DeviceChoice chooseDeviceByName(const std::vector<std::string>& rows, const std::string& wanted,
                                const std::string& listHint = {});

// The versions of the libraries behind the devices, for the About box.
std::string synthesizerLibraryVersion();
std::string midiLibraryVersion();

}  // namespace tarrowin
