// Plays the audition of one event of a document on a MIDI output device, as the
// Composition Maker does, a number of times in one process, so that a virtual port stays
// open from one audition to the next. The JACK end-to-end stage runs it and checks what a
// client of its own choice received.
//
//   audition_driver DOC.trw DEVICE EVENT REPEATS [DELAY_SECONDS]
//
// With a delay the device is opened and closed first, and the driver waits before the
// first audition: time to connect to a virtual port.

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "document/document_file.h"
#include "playback/player.h"
#include "playback/system_backends.h"

using namespace tarrowin;

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6) {
        std::cerr << "usage: audition_driver DOC.trw DEVICE EVENT REPEATS [DELAY_SECONDS]\n";
        return 2;
    }
    CTarrowinDoc doc;
    if (const FileResult r = openDocumentFile(argv[1], doc); !r.ok) {
        std::cerr << r.message << '\n';
        return 1;
    }
    const std::string device = argv[2];
    const int event = std::atoi(argv[3]);
    const int repeats = std::atoi(argv[4]);
    const double delay = argc == 6 ? std::atof(argv[5]) : 0.0;

    MidiOutput output(systemBackends());
    const int32_t count = static_cast<int32_t>(output.countDevices());
    int32_t id = -2;
    for (int32_t i = 0; i < count; ++i) {
        if (output.deviceName(i) == device) id = i;
    }
    if (id == -2) {
        std::cerr << "No device named " << device << '\n';
        return 1;
    }
    output.chooseDevice(id);
    if (delay > 0) {
        if (const OpenResult r = output.open(); !r.ok()) {
            std::cerr << r.message << '\n';
            return 1;
        }
        output.close();
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    }

    Player player(output);
    for (int i = 0; i < repeats; ++i) {
        while (!player.canPlay()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const PlayResult r = player.play(PlayRequest::audition(doc, event));
        if (!r.started()) {
            std::cerr << r.message << '\n';
            return 1;
        }
        player.waitForWorker();
    }
    return 0;
}
