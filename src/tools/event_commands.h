#pragma once
// The commands that edit the events of a composition: the Composition Maker's Add, Insert,
// Remove and Clear, and the main form's Update, Replace Event with Current Settings and
// Global Tempo. Each makes its checks, asks its question through the prompter, edits the
// document and says what changed, so the Composition Maker's list, the "Play from Event"
// combo box and the play mode can follow without knowing the rules.

#include <optional>
#include <string>
#include <vector>

#include "document/document.h"
#include "prompter.h"

namespace tarrowin {

struct EventEdit {
    enum class Kind { None, Added, Inserted, Removed, Cleared, Replaced, TempoChanged, Loaded };
    Kind kind = Kind::None;
    // The event added, inserted, removed, replaced or loaded; -1 for the others.
    int index = -1;
    // Added, Inserted, Replaced: the Composition Maker's line "[%d -> %d]" of the event, to
    // append, insert at index or put in place of line index.
    std::string listLine;
    // Added, Inserted: the line "%d" the "Play from Event" combo box appends (the new last
    // index). Removed: that combo box loses its last line instead.
    std::string comboLine;
    // The composition is now empty: the play mode returns to "Current Settings" and the
    // "Play from Event" combo box and the "Update" button are disabled.
    bool backToCurrentSettings = false;

    bool done() const { return kind != Kind::None; }
};

// The values the form's Start and End edit boxes hold when a command takes them.
struct CounterEdits {
    int32_t start = 0;
    int32_t end = 0;
};

// "[%d -> %d]": an event's Start and End counters, one line of the Composition Maker.
std::string eventListLine(const CompositionEvent& event);
// Every line of the Composition Maker's list, event 0 first.
std::vector<std::string> eventListLines(const Composition& composition);
// The lines "0", "1", ... of the "Play from Event" combo box.
std::vector<std::string> playFromEventLines(const Composition& composition);

// The checks Add makes before it copies the current settings: the event limit, then End
// above Start.
std::optional<Message> checkAddEvent(const CTarrowinDoc& doc);

// Appends a copy of the current settings. Does not mark the document modified.
EventEdit addEvent(CTarrowinDoc& doc, Prompter& prompter);
// Inserts a copy of the current settings before the selected event; nothing without a
// selection. A full composition is refused with Add's limit message. Not modified.
EventEdit insertEvent(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> selected);
// Removes the selected event after "Are you sure?"; nothing without a selection. Not
// modified.
EventEdit removeEvent(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> selected);
// Removes every event after "Are you sure?" and marks the document modified.
EventEdit clearEvents(CTarrowinDoc& doc, Prompter& prompter);

// "Update": loads the chosen event into the current settings; nothing without a choice.
EventEdit updateFromEvent(CTarrowinDoc& doc, std::optional<int> chosen);
// Replace Event with Current Settings: takes the End and then the Start edit into the
// document (each marks it modified), checks the counters, asks, and overwrites the chosen
// event. The overwrite itself does not mark the document.
EventEdit replaceEventWithCurrentSettings(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> chosen,
                                          const CounterEdits& edits);
// Global Tempo: after the question, every event gets the current tempo. Not modified.
EventEdit globalTempo(CTarrowinDoc& doc, Prompter& prompter);

// Replace Event is enabled only while nothing plays and the composition has events; Global
// Tempo only while nothing plays.
bool replaceEventEnabled(const CTarrowinDoc& doc, bool playing);
inline bool globalTempoEnabled(bool playing) { return !playing; }

}  // namespace tarrowin
