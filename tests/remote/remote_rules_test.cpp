// The rules a remote request follows: the window's play rules and ranges with its messages,
// the edit each allowed request makes with its undo step's name, and the state report.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "document/document_validation.h"
#include "remote/remote_rules.h"

namespace tarrowin::remote {
namespace {

Request req(RequestKind k, int64_t value = 0, int voice = -1, VoiceSetting s = VoiceSetting::Param1) {
    return {k, voice, s, value};
}
Request voice(VoiceSetting s, int64_t value, int v = 2) { return req(RequestKind::VoiceSetting, value, v, s); }

const PlayState kIdle{};
const PlayState kLive{true};
const PlayState kAudition{true, true};
const PlayState kComposition{true, false, true};
const PlayState kCooling{false, false, false, true};
const PlayState kLocked{false, false, false, false, true};
const PlayState kWithEvents{false, false, false, false, false, true};
const PlayState kLiveEditing{true, false, false, false, false, false, true};  // Edit While Playing

CTarrowinDoc newDocument() {
    CTarrowinDoc d;
    d.OnNewDocument();
    d.setEnabled(2, true);
    d.setEnabled(5, false);
    return d;
}

struct RuleCase {
    Request request;
    PlayState state;
    std::optional<std::string> refused;
};

TEST(RemoteRules, RefuseWhatTheWindowWouldNotTake) {
    const std::string playing = "cannot change while Tarrowin plays";
    const std::vector<RuleCase> cases = {
        {req(RequestKind::Play), kIdle, std::nullopt},
        {req(RequestKind::Play), kLive, "Tarrowin is playing already"},
        {req(RequestKind::Play), kCooling, "Tarrowin is stopping: play again in a moment"},
        {req(RequestKind::Stop), kLive, std::nullopt},
        {req(RequestKind::State), kComposition, std::nullopt},
        {req(RequestKind::Mode, 1), kIdle, "The document has no composition to play"},
        {req(RequestKind::Mode, 1), kWithEvents, std::nullopt},
        {req(RequestKind::Mode, 0), kLive, "The play mode cannot change while Tarrowin plays"},
        {req(RequestKind::Tempo, 340), kIdle, std::nullopt},
        {req(RequestKind::Tempo, 19), kIdle, "Please enter an integer between 20 and 340."},
        {req(RequestKind::Tempo, 120), kLive, "The tempo " + playing},
        {req(RequestKind::Tempo, 120), kAudition, std::nullopt},  // an audition plays a copy
        {req(RequestKind::StartCounter, 50000), kIdle, std::nullopt},
        {req(RequestKind::StartCounter, 50001), kIdle, "Please enter an integer between 0 and 50000."},
        {req(RequestKind::StartCounter, 10), kComposition, "Start " + playing},
        {req(RequestKind::StartCounter, 10), kLocked, std::nullopt},
        {req(RequestKind::EndCounter, -1), kIdle, "Please enter an integer between 0 and 50000."},
        {req(RequestKind::EndCounter, 10), kLocked, "End cannot change while the counters are locked"},
        {req(RequestKind::VoiceOn, 1, 5), kLive, std::nullopt},  // switched live, as the window allows
        {req(RequestKind::VoiceOn, 2, 5), kIdle, "Please enter an integer between 0 and 1."},
        {req(RequestKind::VoiceOn, 0, 5), kComposition, "Voices cannot be switched on or off while the composition plays"},
        {voice(VoiceSetting::Param1, 1000000), kIdle, std::nullopt},
        {voice(VoiceSetting::Param1, 1), kIdle, "Please enter an integer between 2 and 1000000."},
        {voice(VoiceSetting::Param2, 0), kIdle, "Please enter an integer between 1 and 1000000000."},
        {voice(VoiceSetting::Offset, 20001), kIdle, "Please enter an integer between -20000 and 20000."},
        {voice(VoiceSetting::Octaves, 0), kIdle, "Please enter an integer between 1 and 4."},
        {voice(VoiceSetting::Note, 97), kIdle, "Please enter an integer between 0 and 96."},
        {voice(VoiceSetting::Scale, 14), kIdle, std::nullopt},
        {voice(VoiceSetting::Scale, 15), kIdle, "\"User defined\" is chosen in the window, which asks for the scale"},
        {voice(VoiceSetting::NoteValue, 11), kIdle, "\"Other\" is chosen in the window, which asks for the length"},
        {voice(VoiceSetting::NoteValue, 12), kIdle, "Please enter an integer between 0 and 10."},
        {voice(VoiceSetting::Dynamic, 6), kIdle, "Please enter an integer between 0 and 5."},
        {voice(VoiceSetting::Param1, 5), kLive, "The settings of voice 3 " + playing},
        {voice(VoiceSetting::Param1, 5), kAudition, std::nullopt},
        {voice(VoiceSetting::Param1, 5, 5), kIdle, "Voice 6 is off: its settings change only while it is on"},
        {voice(VoiceSetting::Param1, 1, 5), kLive, "The settings of voice 6 " + playing},  // the play rule first
        {voice(VoiceSetting::Param1, 5), kLiveEditing, std::nullopt},
        {req(RequestKind::Tempo, 120), kLiveEditing, std::nullopt},
        {req(RequestKind::StartCounter, 10), kLiveEditing, "Start " + playing},  // the play's own
    };
    const CTarrowinDoc doc = newDocument();
    for (const RuleCase& c : cases) {
        EXPECT_EQ(refusal(c.request, doc, c.state), c.refused)
            << "kind " << int(c.request.kind) << " value " << c.request.value;
    }
}

struct EditCase {
    Request request;
    std::string name;
    std::function<int32_t(const CTarrowinDoc&)> read;
    int32_t expected;
};

TEST(RemoteRules, EachAllowedRequestIsOneNamedEdit) {
    const auto v3 = [](const CTarrowinDoc& d) { return d.voice(2); };
    const std::vector<EditCase> cases = {
        {req(RequestKind::Tempo, 200), "Tempo", [](const CTarrowinDoc& d) { return d.global().tempo; }, 200},
        {req(RequestKind::StartCounter, 32), "Start counter", [](const CTarrowinDoc& d) { return d.global().startCounter; }, 32},
        {req(RequestKind::EndCounter, 640), "End counter", [](const CTarrowinDoc& d) { return d.global().endCounter; }, 640},
        {req(RequestKind::VoiceOn, 1, 5), "Switch on voice 6", [](const CTarrowinDoc& d) { return d.voice(5).enabled; }, 1},
        {req(RequestKind::VoiceOn, 0, 2), "Switch off voice 3", [](const CTarrowinDoc& d) { return d.voice(2).enabled; }, 0},
        {voice(VoiceSetting::Param1, 77), "Param1 voice 3", [=](const CTarrowinDoc& d) { return v3(d).param1; }, 77},
        {voice(VoiceSetting::Param2, 9), "Param2 voice 3", [=](const CTarrowinDoc& d) { return v3(d).param2; }, 9},
        {voice(VoiceSetting::Offset, -5), "Offset voice 3", [=](const CTarrowinDoc& d) { return v3(d).offset; }, -5},
        {voice(VoiceSetting::Octaves, 3), "Octaves voice 3", [=](const CTarrowinDoc& d) { return v3(d).octavesIndex; }, 2},
        {voice(VoiceSetting::Note, 62), "Note voice 3", [=](const CTarrowinDoc& d) { return v3(d).startNote; }, 62},
        {voice(VoiceSetting::Scale, 13), "Scale voice 3", [=](const CTarrowinDoc& d) { return v3(d).scale.count; }, 5},
        {voice(VoiceSetting::NoteValue, 8), "Note value voice 3", [=](const CTarrowinDoc& d) { return int32_t(v3(d).noteValue); }, 12},
        {voice(VoiceSetting::Dynamic, 5), "Dynamic voice 3", [=](const CTarrowinDoc& d) { return v3(d).velocity; }, 127},
    };
    for (const EditCase& c : cases) {
        CTarrowinDoc doc = newDocument();
        const auto edit = editFor(c.request, doc);
        ASSERT_TRUE(edit) << c.name;
        EXPECT_EQ(edit->name, c.name);
        EXPECT_EQ(edit->tempo, c.request.kind == RequestKind::Tempo);
        edit->apply(doc);
        EXPECT_EQ(c.read(doc), c.expected) << c.name;
        EXPECT_TRUE(validateDocument(doc).ok) << c.name;
        EXPECT_FALSE(editFor(c.request, doc)) << c.name << ": the value is held already";
    }
    for (RequestKind k : {RequestKind::Play, RequestKind::Stop, RequestKind::State, RequestKind::Mode})
        EXPECT_FALSE(editFor(req(k, 1), newDocument()));
}

TEST(RemoteRules, StateReportsWhatPlays) {
    CTarrowinDoc doc = newDocument();
    doc.setStartCounter(48);
    doc.setEndCounter(96);
    doc.addCurrentSettingsAsEvent();
    doc.mutableComposition().event(0).global.tempo = 150;
    const StateReport idle = stateReport(doc, kIdle, false, 999, -1);
    EXPECT_EQ((std::tuple{idle.playing, idle.composition, idle.position, idle.tempo}), (std::tuple{false, false, 48, 96}));
    const StateReport live = stateReport(doc, kLive, false, 60, 0);
    EXPECT_EQ((std::tuple{live.playing, live.position, live.tempo}), (std::tuple{true, 60, 96}));
    const StateReport composition = stateReport(doc, kComposition, true, 70, 0);
    EXPECT_EQ((std::tuple{composition.composition, composition.position, composition.tempo}), (std::tuple{true, 70, 150}));
}

}  // namespace
}  // namespace tarrowin::remote
