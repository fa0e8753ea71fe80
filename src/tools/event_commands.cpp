#include "event_commands.h"

#include <cstdio>

namespace tarrowin {

namespace {

Message toMessage(const UserMessage& m) { return {std::string(m.text), std::string(m.caption), MessageIcon::Exclamation}; }

std::optional<Message> toMessage(const std::optional<UserMessage>& m) {
    if (!m) return std::nullopt;
    return toMessage(*m);
}

std::optional<Message> checkCounters(const CTarrowinDoc& doc) {
    if (doc.global().endCounter <= doc.global().startCounter) return toMessage(kCounterRangeMessage);
    return std::nullopt;
}

bool isEventIndex(const CTarrowinDoc& doc, std::optional<int> index) {
    return index && *index >= 0 && *index < doc.composition().count();
}

EventEdit edited(EventEdit::Kind kind, int index, const CTarrowinDoc& doc) {
    EventEdit edit;
    edit.kind = kind;
    edit.index = index;
    edit.listLine = eventListLine(doc.composition().event(index));
    if (kind != EventEdit::Kind::Replaced) edit.comboLine = std::to_string(doc.composition().lastIndex());
    return edit;
}

}  // namespace

std::string eventListLine(const CompositionEvent& event) {
    char line[40];
    std::snprintf(line, sizeof line, "[%d -> %d]", event.global.startCounter, event.global.endCounter);
    return line;
}

std::vector<std::string> eventListLines(const Composition& composition) {
    std::vector<std::string> lines;
    for (const auto& e : composition.events()) lines.push_back(eventListLine(e));
    return lines;
}

std::vector<std::string> playFromEventLines(const Composition& composition) {
    std::vector<std::string> lines;
    for (int i = 0; i < composition.count(); ++i) lines.push_back(std::to_string(i));
    return lines;
}

std::optional<Message> checkAddEvent(const CTarrowinDoc& doc) { return toMessage(doc.newEventRefusal()); }

EventEdit addEvent(CTarrowinDoc& doc, Prompter& prompter) {
    if (prompter.refused(toMessage(doc.addCurrentSettingsAsEvent()))) return {};
    return edited(EventEdit::Kind::Added, doc.composition().lastIndex(), doc);
}

EventEdit insertEvent(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> selected) {
    if (!isEventIndex(doc, selected)) return {};
    // A full composition takes no insertion either; Add's message says why.
    if (prompter.refused(toMessage(doc.insertCurrentSettingsAsEvent(*selected)))) return {};
    return edited(EventEdit::Kind::Inserted, *selected, doc);
}

EventEdit removeEvent(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> selected) {
    if (!isEventIndex(doc, selected)) return {};
    if (!prompter.ask("Are you sure?", "Delete")) return {};
    doc.mutableComposition().remove(*selected);
    EventEdit edit;
    edit.kind = EventEdit::Kind::Removed;
    edit.index = *selected;
    edit.backToCurrentSettings = doc.composition().isEmpty();
    return edit;
}

EventEdit clearEvents(CTarrowinDoc& doc, Prompter& prompter) {
    if (!prompter.ask("Are you sure?", "Delete All")) return {};
    doc.mutableComposition().clear();
    doc.SetModifiedFlag();
    EventEdit edit;
    edit.kind = EventEdit::Kind::Cleared;
    edit.backToCurrentSettings = true;
    return edit;
}

EventEdit updateFromEvent(CTarrowinDoc& doc, std::optional<int> chosen) {
    if (!isEventIndex(doc, chosen) || !doc.LoadEventIntoCurrentSettings(*chosen)) return {};
    EventEdit edit;
    edit.kind = EventEdit::Kind::Loaded;
    edit.index = *chosen;
    return edit;
}

EventEdit replaceEventWithCurrentSettings(CTarrowinDoc& doc, Prompter& prompter, std::optional<int> chosen,
                                          const CounterEdits& edits) {
    if (!isEventIndex(doc, chosen)) {
        prompter.show(errorMessage("Please select an event in the 'Play from Event' combo box"));
        return {};
    }
    doc.setEndCounter(edits.end);
    doc.setStartCounter(edits.start);
    if (prompter.refused(checkCounters(doc))) return {};
    char question[64];
    std::snprintf(question, sizeof question, "Replace Event %d with current settings?", *chosen);
    if (!prompter.ask(question, "Edit Event")) return {};
    doc.CopyCurrentSettingsIntoEvent(doc.mutableComposition().event(*chosen));
    return edited(EventEdit::Kind::Replaced, *chosen, doc);
}

EventEdit globalTempo(CTarrowinDoc& doc, Prompter& prompter) {
    if (doc.composition().isEmpty()) {
        prompter.show(errorMessage("You have not created a composition yet"));
        return {};
    }
    const int32_t tempo = doc.global().tempo;
    char question[96];
    std::snprintf(question, sizeof question, "Do you want to globally change your composition's tempo to %d?", tempo);
    if (!prompter.ask(question, kAppCaption)) return {};
    Composition& composition = doc.mutableComposition();
    for (int i = 0; i < composition.count(); ++i) composition.event(i).global.tempo = tempo;
    EventEdit edit;
    edit.kind = EventEdit::Kind::TempoChanged;
    return edit;
}

bool replaceEventEnabled(const CTarrowinDoc& doc, bool playing) { return !playing && !doc.composition().isEmpty(); }

}  // namespace tarrowin
