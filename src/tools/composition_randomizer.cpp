#include "composition_randomizer.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarrowin {

namespace {

// Every expression below that uses a draw U is computed in single precision with float
// constants, and converted to an integer by truncation toward zero, so that a seed gives
// the same settings wherever it runs.

// k := trunc(n x U), repeated until allowed[k].
template <size_t N>
int pick(UniformRandom& random, const std::array<bool, N>& allowed) {
    constexpr int n = static_cast<int>(N);
    int k = 0;
    do {
        k = std::min(static_cast<int>(static_cast<float>(n) * random()), n - 1);
    } while (!allowed[static_cast<size_t>(k)]);
    return k;
}

// trunc(U x (to - from) + from).
int32_t drawBetween(UniformRandom& random, int64_t from, int64_t to) {
    return static_cast<int32_t>(random() * static_cast<float>(to - from) + static_cast<float>(from));
}

template <size_t N>
bool anyOf(const std::array<bool, N>& flags) {
    return std::any_of(flags.begin(), flags.end(), [](bool b) { return b; });
}

size_t at(RandomBox b) { return static_cast<size_t>(b); }

void drawCoefficients(VoiceSettings& voice, UniformRandom& random) {
    switch (voice.algorithm) {
        case Algorithm::LogisticMap:
            voice.logisticMu = 0.5f * random() + 3.5f;
            break;
        case Algorithm::OneOverFNoise:
            voice.noiseCoefficient = random();
            break;
        case Algorithm::Henon:
            voice.henonA = random() + 1.0f;
            voice.henonB = random();
            break;
        case Algorithm::Hopalong:
            voice.hopalongAngle = 12.566371f * random() - 6.2831855f;
            break;
        case Algorithm::Martin:
            voice.martinAngle = 12.566371f * random() - 6.2831855f;
            break;
        case Algorithm::Gingerbreadman:
            voice.gingerX0 = 40.0f * random() - 20.0f;
            voice.gingerY0 = 40.0f * random() - 20.0f;
            break;
        case Algorithm::Lorenz:
            voice.lorenzCoefficient = 0.3f * random() + 0.7f;
            break;
        case Algorithm::MorseThue:
            break;
    }
}

// Marks semitones 0..11 with even chances until at least three are marked.
std::array<bool, 12> drawUserScaleMarks(UniformRandom& random) {
    std::array<bool, 12> marks{};
    int count = 0;
    do {
        marks.fill(false);
        count = 0;
        for (int s = 0; s < 12; ++s) {
            if (random() >= 0.5f) {
                marks[static_cast<size_t>(s)] = true;
                ++count;
            }
        }
    } while (count < 3);
    return marks;
}

int chosenVoices(const std::array<bool, kVoices>& choice) {
    return static_cast<int>(std::count(choice.begin(), choice.end(), true));
}

}  // namespace

std::string_view randomBoxLabel(RandomBox box) {
    static const std::array<std::string_view, kRandomBoxes> labels = {
        "Algorithm", "Param1",   "Param2", "Coefficient", "Modulate", "Octaves",  "Note", "Scale",
        "Note Val",  "Instrument", "Mode", "Dynamic",     "Inverted", "Match Scl", "Pan", "Tempo",
    };
    return labels[at(box)];
}

CompositionRandomizer::CompositionRandomizer() {
    boxes.fill(true);
    allowedInstruments.fill(true);
    allowedNotes.fill(true);
    allowedScales.fill(true);
}

void CompositionRandomizer::open(const CTarrowinDoc& doc) {
    for (int v = 0; v < kVoices; ++v) voiceChoice[static_cast<size_t>(v)] = doc.voice(v).enabled != 0;
    minVoicesOn = 1;
    creating_ = false;
}

RandomizerEnabling CompositionRandomizer::enabling() const {
    RandomizerEnabling e;
    e.allowSilence = voicesOnOff;
    e.minVoicesOn = voicesOnOff && !allowSilence;
    e.createUserScales = box(RandomBox::Scale) && scales.allowUserDefined();
    e.createOnlyUserScales = box(RandomBox::Scale) && createUserScales;
    e.matchScl = box(RandomBox::Inverted);
    return e;
}

PickerRequest CompositionRandomizer::setBox(RandomBox b, bool on) {
    boxes[at(b)] = on;
    if (b == RandomBox::Scale && !scales.allowUserDefined()) setCreateUserScales(false);
    if (!on) return PickerRequest::None;
    switch (b) {
        case RandomBox::Algorithm: return PickerRequest::Algorithms;
        case RandomBox::Param1: return PickerRequest::Param1Range;
        case RandomBox::Param2: return PickerRequest::Param2Range;
        case RandomBox::Octaves: return PickerRequest::Octaves;
        case RandomBox::Note: return PickerRequest::Notes;
        case RandomBox::Scale: return PickerRequest::Scales;
        case RandomBox::NoteVal: return PickerRequest::NoteValues;
        case RandomBox::Instrument: return PickerRequest::Instruments;
        case RandomBox::Dynamic: return PickerRequest::Dynamics;
        default: return PickerRequest::None;
    }
}

void CompositionRandomizer::setCreateUserScales(bool on) {
    createUserScales = on;
    if (!on) createOnlyUserScales = false;
}

void CompositionRandomizer::scalesPickerClosed() {
    allowedScales = scales.flags();
    // The picker may just have forbidden user-defined scales, which "Create User Scales"
    // needs.
    if (!scales.allowUserDefined()) setCreateUserScales(false);
}

std::optional<Message> CompositionRandomizer::checkDraws() const {
    if (box(RandomBox::Algorithm)) {
        if (auto m = algorithms.checkFlags()) return m;
    }
    if (box(RandomBox::Param1)) {
        if (auto m = param1RangePicker().ok()) return m;
    }
    if (box(RandomBox::Param2)) {
        if (auto m = param2RangePicker().ok()) return m;
    }
    if (box(RandomBox::Octaves)) {
        if (auto m = octaves.checkFlags()) return m;
    }
    if (box(RandomBox::Note)) {
        if (auto m = notesPicker().checkFlags()) return m;
    }
    if (box(RandomBox::Scale) && !createOnlyUserScales && !anyOf(allowedScales) && !scales.allowUserDefined()) {
        return errorMessage(scales.refusalText());
    }
    if (box(RandomBox::NoteVal)) {
        if (auto m = noteValues.checkFlags()) return m;
        if (noteValues.flag(kOtherNoteValue)) {
            if (auto m = noteValues.otherRangePicker().ok()) return m;
        }
    }
    if (box(RandomBox::Instrument)) {
        if (auto m = instrumentsPicker().checkFlags()) return m;
    }
    if (box(RandomBox::Dynamic)) {
        if (auto m = dynamics.checkFlags()) return m;
    }
    return std::nullopt;
}

void CompositionRandomizer::randomizeVoice(VoiceSettings& voice, int v, UniformRandom& random,
                                                 RandomizeOutcome& out) const {
    const auto vi = static_cast<size_t>(v);
    if (box(RandomBox::Algorithm)) voice.setAlgorithm(static_cast<Algorithm>(pick(random, algorithms.flags())));
    if (box(RandomBox::Param1) && voice.algorithm == Algorithm::MorseThue) {
        voice.param1 = drawBetween(random, param1From, param1To);
    }
    if (box(RandomBox::Param2) && voice.algorithm == Algorithm::MorseThue) {
        voice.param2 = drawBetween(random, param2From, param2To);
    }
    if (box(RandomBox::Coefficient)) drawCoefficients(voice, random);
    if (box(RandomBox::Modulate)) {
        if (random() > 0.5f) {
            voice.modulate = 1;
            if (random() > 0.5f) {
                voice.modulateMode = 1;
            } else {
                voice.modulateMode = 0;
                voice.modulateEvery = static_cast<int32_t>(49.0f * random() + 1.0f);
            }
        } else {
            voice.modulate = 0;
        }
    }
    if (box(RandomBox::Octaves)) voice.setOctaves(pick(random, octaves.flags()));
    if (box(RandomBox::Note)) voice.startNote = pick(random, allowedNotes);
    if (box(RandomBox::Inverted)) {
        const int32_t wasInverted = voice.inverted, wasMatch = voice.matchScale;
        voice.inverted = random() >= 0.5f ? 1 : 0;
        if (box(RandomBox::MatchScl) && voice.inverted) voice.matchScale = random() >= 0.5f ? 1 : 0;
        // The scale follows the inversion even when "Scale" is not drawn.
        if (voice.inverted != wasInverted || voice.matchScale != wasMatch) voice.rebuildScale();
    }
    if (box(RandomBox::Scale)) {
        int k = kUserDefinedScale;
        if (!createOnlyUserScales) {
            const int rows = kUserDefinedScale + (scales.allowUserDefined() ? 1 : 0);
            do {
                k = std::min(static_cast<int>(random() * static_cast<float>(rows)), rows - 1);
            } while (k != kUserDefinedScale && !allowedScales[static_cast<size_t>(k)]);
        }
        if (k == kUserDefinedScale && createUserScales) {
            const auto marks = drawUserScaleMarks(random);
            voice.userScale = buildUserScale(marks);
            out.userScaleMarks[vi] = marks;
        }
        voice.setScaleIndex(k);
    }
    if (box(RandomBox::NoteVal)) {
        const int k = pick(random, noteValues.flags());
        if (k == kOtherNoteValue) {
            const int32_t n = drawBetween(random, noteValues.otherFrom, noteValues.otherTo);
            voice.setNoteValue(k, static_cast<float>(n));
            out.otherNoteValue[vi] = n;
        } else {
            voice.setNoteValue(k, 0.0f);
        }
    }
    if (box(RandomBox::Instrument)) voice.instrument = pick(random, allowedInstruments);
    if (box(RandomBox::Mode)) voice.tied = random() >= 0.5f ? 1 : 0;
    if (box(RandomBox::Dynamic)) voice.setDynamic(pick(random, dynamics.flags()));
    if (box(RandomBox::Pan)) {
        const float u = random();
        voice.pan = u < 0.333333f ? -64 : u < 0.666666f ? 0 : 63;
    }
}

RandomizeOutcome CompositionRandomizer::randomize(CTarrowinDoc& doc, UniformRandom& random, Prompter& prompter) {
    RandomizeOutcome out;
    if (prompter.refused(checkDraws())) return out;
    Settings& current = doc.mutableCurrent();
    for (int v = 0; v < kVoices; ++v) {
        if (!voiceChoice[static_cast<size_t>(v)]) continue;
        randomizeVoice(current.voices[static_cast<size_t>(v)], v, random, out);
        out.randomized[static_cast<size_t>(v)] = true;
    }
    if (box(RandomBox::Tempo)) {
        current.global.tempo = static_cast<int32_t>(320.0f * random()) + 20;
        out.tempoChanged = true;
    }
    if (!creating_) {
        for (int v = 0; v < kVoices; ++v) {
            if (voiceChoice[static_cast<size_t>(v)]) current.voices[static_cast<size_t>(v)].enabled = 1;
        }
    }
    doc.SetModifiedFlag();
    out.done = true;
    return out;
}

std::optional<Message> CompositionRandomizer::checkCreate(const CTarrowinDoc& doc) const {
    const int room = kMaxEvents - 1 - doc.composition().lastIndex();
    if (numberOfEvents < 1 || numberOfEvents > static_cast<uint32_t>(room) || minCounter < 1 || maxCounter > 1000 ||
        minCounter >= maxCounter) {
        char first[64];
        std::snprintf(first, sizeof first, "Maximum number of Events is %d.\n", room);
        return errorMessage(std::string(first) +
                            "Minimum number of Events of 1.\n"
                            "Minimum counter value is 1.\n"
                            "Maximum counter value is 1000\n"
                            "Minimum counter value must be less than Maximum counter value.");
    }
    if (randomStartMin < 0 || randomStartMin > 49000 || randomStartMax < 0 || randomStartMax > 49000 ||
        randomStartMin >= randomStartMax) {
        return errorMessage(
            "Minimum values for Random Counters is 0.\n"
            "Maximum values for Random Counters is 49000\n"
            "Minimum counter value must be less than Maximum counter value.");
    }
    const int chosen = chosenVoices(voiceChoice);
    if (chosen == 0) return Message{"Please select some voices", kAppCaption, MessageIcon::Exclamation};
    if (minVoicesOn < 1 || minVoicesOn > chosen) {
        char text[64];
        std::snprintf(text, sizeof text, "minimum voices on range is 1 to %d", chosen);
        return errorMessage(text);
    }
    return checkDraws();
}

CreateOutcome CompositionRandomizer::create(CTarrowinDoc& doc, UniformRandom& random, Prompter& prompter) {
    CreateOutcome out;
    if (prompter.refused(checkCreate(doc))) return out;
    out.started = true;
    creating_ = true;
    const auto savedBoxes = boxes;
    const bool savedVoicesOnOff = voicesOnOff;
    const auto savedChoice = voiceChoice;
    auto restore = [&] {
        boxes = savedBoxes;
        voicesOnOff = savedVoicesOnOff;
        voiceChoice = savedChoice;
        creating_ = false;
    };

    const int32_t start0 = static_cast<int32_t>(random() * static_cast<float>(randomStartMax - randomStartMin)) + randomStartMin;
    const bool chained = startCounterMode != kRandomizeStart || sequential;
    int32_t previousEnd = 0;
    Settings& current = doc.mutableCurrent();
    for (uint32_t j = 0; j < numberOfEvents; ++j) {
        int32_t start = 0;
        if (startCounterMode == kFromLastEvent) {
            const Composition& c = doc.composition();
            start = c.isEmpty() ? 0 : c.event(c.lastIndex()).global.endCounter;
        } else if (startCounterMode == kStartFromZero || sequential) {
            start = j == 0 ? (startCounterMode == kStartFromZero ? 0 : start0) : previousEnd;
        } else {
            start = static_cast<int32_t>(random() * static_cast<float>(randomStartMax - randomStartMin)) + randomStartMin;
        }
        const int32_t end = start + drawBetween(random, minCounter, maxCounter);
        if (chained && end > kMaxCounter) {
            prompter.message(startCounterMode == kFromLastEvent ? "Maximum counter value reached" : "Maximum counter value reached!",
                             kAppCaption, MessageIcon::Exclamation);
            restore();
            out.stoppedAtCounterLimit = true;
            return out;
        }
        doc.setStartCounter(start);
        doc.setEndCounter(end);
        previousEnd = end;

        // Which chosen voices sound in this event. The draw is made for every chosen voice,
        // also when "Voices On/Off" is off and the voice sounds anyway.
        int on = 0;
        do {
            on = 0;
            for (int v = 0; v < kVoices; ++v) {
                const auto vi = static_cast<size_t>(v);
                if (!savedChoice[vi]) continue;
                const bool sounds = (random() >= 0.5f) || !voicesOnOff;
                current.voices[vi].enabled = sounds ? 1 : 0;
                voiceChoice[vi] = sounds;
                on += sounds ? 1 : 0;
            }
        } while (!allowSilence && on < minVoicesOn);

        // Which of the user's checked settings vary in this event; "Pan" stays as it is.
        static constexpr std::array<RandomBox, 14> kVaried = {
            RandomBox::Algorithm, RandomBox::Dynamic, RandomBox::Instrument, RandomBox::Inverted, RandomBox::Mode,
            RandomBox::Modulate,  RandomBox::Note,    RandomBox::NoteVal,    RandomBox::Octaves,  RandomBox::Param1,
            RandomBox::Param2,    RandomBox::Coefficient, RandomBox::Scale,  RandomBox::Tempo,
        };
        for (RandomBox b : kVaried) {
            if (!savedBoxes[at(b)]) continue;
            boxes[at(b)] = random() < 0.5f;
            if (b == RandomBox::Inverted && boxes[at(b)] && savedBoxes[at(RandomBox::MatchScl)]) {
                boxes[at(RandomBox::MatchScl)] = random() < 0.5f;
            }
        }

        randomize(doc, random, prompter);
        EventEdit added = addEvent(doc, prompter);
        if (added.done()) out.added.push_back(std::move(added));
    }

    restore();
    out.loadedFirstEvent = doc.LoadEventIntoCurrentSettings(0);
    if (out.loadedFirstEvent) {
        for (int v = 0; v < kVoices; ++v) out.reloadUserScaleEditor[static_cast<size_t>(v)] = doc.voice(v).scaleIndex == kUserDefinedScale;
    }
    return out;
}

}  // namespace tarrowin
