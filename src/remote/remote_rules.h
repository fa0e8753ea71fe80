#pragma once
// What a remote request may do now, by the window's own rules: a setting that the window
// disables while something plays is refused while something plays, a voice's settings only
// change while the voice is on, End not while the counters are locked, and values keep the
// ranges the window's fields take (with the window's message). An allowed request that sets
// a value becomes one document change, named as the window names its undo step.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "document/document.h"
#include "osc_request.h"

namespace tarrowin::remote {

// The play state the rules read (the window's, or the command line's while it plays).
struct PlayState {
    bool playing = false;             // a play or an audition runs
    bool auditioning = false;         // what plays is one event's audition, a copy
    bool compositionRunning = false;  // what plays is the composition
    bool coolingDown = false;         // the moment after Stop
    bool locked = false;              // the counters' Lock
    bool eventsExist = false;
    bool liveEditing = false;         // the current settings play with Edit While Playing on
};

// Whether the voices' settings and the tempo may change now: not while the current settings
// or the composition play (an audition plays a copy of one event), unless the current
// settings play with Edit While Playing on, which takes each change into the play. Every
// such setting's rule asks this one function.
bool settingsEditable(const PlayState& state);
// Whether the counters (and the time signature) may change now: never while the current
// settings or the composition play.
bool countersEditable(const PlayState& state);

// Why the request is refused in this state, or none when it may go ahead.
std::optional<std::string> refusal(const Request& request, const CTarrowinDoc& doc, const PlayState& state);

// The document change an allowed request makes, as one undo step.
struct Edit {
    std::string name;  // "Tempo", "Param1 voice 3", "Switch on voice 3"
    std::function<void(CTarrowinDoc&)> apply;
    bool tempo = false;  // tempo steps in a row merge into one, as the window's tempo bar does
};
// None for requests that set no document value, and for a value the document holds already.
std::optional<Edit> editFor(const Request& request, const CTarrowinDoc& doc);

// The answer to /tarrowin/state: the counter that plays (the Start counter when nothing
// plays) and the tempo that plays (a playing composition event's own).
StateReport stateReport(const CTarrowinDoc& doc, const PlayState& state, bool compositionMode, int32_t position,
                        int playingEvent);

}  // namespace tarrowin::remote
