#include "performance.h"

#include <algorithm>

#include "retuning.h"
#include <array>
#include <cstdint>

namespace tarrowin {

namespace {

using VoiceMask = std::array<bool, kVoices>;

constexpr int64_t kNever = INT64_MAX;  // the due tick of a voice a run does not play

// Which voices a run evaluates and writes: the players take all 16, the current-settings
// export the enabled ones, the composition export those enabled in at least one event.
VoiceMask writtenVoices(PerformanceMode mode, const Settings& current, std::span<const Settings> events) {
    VoiceMask mask{};
    for (int v = 0; v < kVoices; ++v) {
        const auto i = static_cast<size_t>(v);
        switch (mode) {
            case PerformanceMode::Live:
            case PerformanceMode::Composition:
            case PerformanceMode::Audition: mask[i] = true; break;
            case PerformanceMode::ExportCurrent: mask[i] = current.voices[i].enabled != 0; break;
            case PerformanceMode::ExportComposition:
                mask[i] = std::any_of(events.begin(), events.end(),
                                      [i](const Settings& e) { return e.voices[i].enabled != 0; });
                break;
        }
    }
    return mask;
}

SoundingRule ruleFor(PerformanceMode mode) {
    switch (mode) {
        case PerformanceMode::Live:
        case PerformanceMode::Audition: return SoundingRule{false, false};
        case PerformanceMode::ExportCurrent: return SoundingRule{true, false};
        case PerformanceMode::Composition:
        case PerformanceMode::ExportComposition: return SoundingRule{true, true};
    }
    return {};
}

class Run {
   public:
    Run(const PerformanceOptions& options, const Settings& current, std::span<const Settings> events,
        PerformanceSink& sink, PerformanceControl& control)
        : options_(options),
          live_(options.mode == PerformanceMode::Live),
          written_(writtenVoices(options.mode, current, events)),
          rule_(ruleFor(options.mode)),
          sink_(sink),
          control_(control) {
        if (options.seed) engine_.state().seedRunLengths(*options.seed);
        copyKeyTables();
    }

    // Plays one event (or the current settings); false when the run was stopped.
    bool playEvent(int index, const Settings& event) {
        // A live run plays a copy that edits made while it plays replace.
        if (live_) edited_ = event;
        const Settings& e = live_ ? edited_ : event;
        engine_.setVoices(e.voices);
        clearCountdowns(engine_.state());
        int32_t tickLength = tickLengthMs(e.global.tempo);
        int64_t pc = e.global.startCounter;

        sink_.eventBegins(index, e.global, date_);
        if (options_.retuning != nullptr && !tuningSent_) {
            // Before the programs: a synthesizer applies a tuning to the notes struck after it.
            for (const SysexMessage& m : options_.retuning->startSysex()) sink_.sysex(date_, m);
            for (const ShortMessage& m : options_.retuning->startMessages()) sink_.message(date_, m);
            tuningSent_ = true;
        }
        if (live_ && !control_.locked()) control_.setEndCounter(static_cast<int32_t>(pc));
        for (int v = 0; v < kVoices; ++v) {
            if (written(v)) sink_.message(date_, ShortMessage::programChange(e.voices[at(v)].channel, e.voices[at(v)].instrument));
        }
        for (int v = 0; v < kVoices; ++v) {
            if (written(v)) sink_.message(date_, ShortMessage::pan(e.voices[at(v)].channel, e.voices[at(v)].pan));
        }
        engine_.warmUpVoices(written_, pc);

        // Each voice's next step on the grid: a tick only compares, it divides nothing.
        std::array<NoteEngine::DueStep, kVoices> due{};
        for (int v = 0; v < kVoices; ++v) {
            due[at(v)] = written(v) ? engine_.nextDue(v, pc) : NoteEngine::DueStep{kNever, 0};
        }
        std::array<int32_t, kVoices> pitch{};
        std::array<int32_t, kVoices> counter{};
        std::array<bool, kVoices> struck{};
        while (true) {
            if (!control_.playing()) return false;
            if (live_) {
                if (const Settings* next = control_.editedSettings()) takeEdit(*next, pc, due, tickLength);
            }
            if (live_ ? control_.locked() && control_.endCounter() <= pc : e.global.endCounter <= pc) return true;
            for (int v = 0; v < kVoices; ++v) {
                NoteEngine::DueStep& next = due[at(v)];
                struck[at(v)] = next.tick == pc;
                if (!struck[at(v)]) continue;
                counter[at(v)] = next.counter;
                pitch[at(v)] = engine_.step(v, next.counter);
                next.tick += engine_.noteLength(v);
                ++next.counter;
            }
            for (int v = 0; v < kVoices; ++v) {
                if (!struck[at(v)]) continue;
                const VoiceSettings& voice = e.voices[at(v)];
                const bool snapshotOn = voice.enabled != 0;
                const bool on = live_ ? control_.voiceOn(v, snapshotOn) : snapshotOn;
                const SoundingDecision d =
                    soundingDecision(cursors_[at(v)], pitch[at(v)], voice, on, options_.percussionChannel, rule_);
                if (d.noteOn) sink_.voiceStrikes(v, counter[at(v)]);
                if (retuning_ != nullptr && retuning_->tunes(v)) {
                    strikeTuned(d);
                    continue;
                }
                if (d.noteOff) sink_.message(date_, ShortMessage::noteOff(d.noteOff->channel, d.noteOff->key, d.noteOff->velocity));
                if (d.noteOn) sink_.message(date_, ShortMessage::noteOn(d.noteOn->channel, d.noteOn->key, d.noteOn->velocity));
            }
            ++pc;
            if (live_ && !control_.locked()) {
                const int32_t end = control_.endCounter();
                if (end < kMaxCounter) control_.setEndCounter(end + 1);
            }
            ++date_;
            control_.tickDone(date_, tickLength);
        }
    }

    // Settings edited while the run plays, taken at the top of tick pc. A voice whose line
    // changed continues as a run of the new settings that starts at pc would: its generator
    // brought there from its beginning, its next step the first due at or after pc, and its
    // next note struck whatever it is (its sounding key is ended first). A voice whose
    // program, pan or channel changed gets them at once, as a run's start sends them.
    void takeEdit(const Settings& next, int64_t pc, std::array<NoteEngine::DueStep, kVoices>& due,
                  int32_t& tickLength) {
        std::array<bool, kVoices> moved{};
        bool anyMoved = false;
        for (int v = 0; v < kVoices; ++v) {
            moved[at(v)] = !sameLine(edited_.voices[at(v)], next.voices[at(v)]);
            anyMoved = anyMoved || moved[at(v)];
        }
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& was = edited_.voices[at(v)];
            const VoiceSettings& is = next.voices[at(v)];
            if (was.channel != is.channel || was.instrument != is.instrument)
                sink_.message(date_, ShortMessage::programChange(is.channel, is.instrument));
        }
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& was = edited_.voices[at(v)];
            const VoiceSettings& is = next.voices[at(v)];
            if (was.channel != is.channel || was.pan != is.pan) sink_.message(date_, ShortMessage::pan(is.channel, is.pan));
        }
        if (next.global.tempo != edited_.global.tempo) {
            edited_.global.tempo = next.global.tempo;
            tickLength = tickLengthMs(next.global.tempo);
            sink_.tempoChanges(date_, next.global.tempo);
        }
        edited_.voices = next.voices;
        if (!anyMoved) return;
        engine_.setVoices(edited_.voices);
        for (int v = 0; v < kVoices; ++v) {
            if (!moved[at(v)]) continue;
            clearCountdowns(engine_.state(), v);
            cursors_[at(v)].lastNote.reset();
        }
        engine_.warmUpVoices(moved, pc);
        for (int v = 0; v < kVoices; ++v) {
            if (moved[at(v)]) due[at(v)] = engine_.nextDue(v, pc);
        }
    }

    void finish(const Settings* lastEvent) {
        switch (options_.mode) {
            case PerformanceMode::Live:
            case PerformanceMode::Composition:
                for (int ch = 0; ch < 16; ++ch) sink_.message(date_, ShortMessage::allNotesOff(ch));
                break;
            case PerformanceMode::Audition:
                for (int ch = 0; ch < 16; ++ch) {
                    for (int key = 0; key < 128; ++key) sink_.message(date_, ShortMessage::noteOff(ch, key, 0));
                }
                break;
            case PerformanceMode::ExportCurrent:
            case PerformanceMode::ExportComposition:
                for (int v = 0; v < kVoices; ++v) {
                    if (!written(v) || lastEvent == nullptr) continue;
                    // The note offs end the key on the channel it sounds on, even when the
                    // voice's channel changed in a later event.
                    const VoiceCursor& c = cursors_[at(v)];
                    const int32_t channel = c.lastKey ? c.keyChannel : lastEvent->voices[at(v)].channel;
                    for (int key = 0; key < 128; ++key) sink_.message(date_, ShortMessage::noteOff(channel, key, 0));
                }
                sink_.end(date_);
                break;
        }
    }

   private:
    static size_t at(int v) { return static_cast<size_t>(v); }
    bool written(int v) const { return written_[at(v)]; }

    // A tuned voice's note off and note on, through the plan's key tables. A key's note off
    // goes to the key its note on was struck on; the percussion channel is never retuned.
    // Written without branches on the key, whose mapped or unmapped keys come in no order
    // a processor could predict.
    void strikeTuned(const SoundingDecision& d) {
        const Retuning& r = *retuning_;
        if (d.noteOff) {
            const NoteMessage& off = *d.noteOff;
            const int key = off.channel == percussion_ ? off.key : keyOf_[static_cast<size_t>(off.key)];
            sink_.message(date_, ShortMessage::noteOff(off.channel, key, off.velocity));
        }
        if (!d.noteOn) return;
        const NoteMessage& on = *d.noteOn;
        const auto k = static_cast<size_t>(on.key);
        const bool drum = on.channel == percussion_;
        const int32_t velocity = on.velocity & (drum ? 0x7F : soundMask_[k]);
        if (bends_ && !drum && velocity > 0) {
            const int32_t bend = r.bend(on.key);
            int32_t& last = lastBends_[static_cast<size_t>(on.channel & 0x0F)];
            if (last != bend) sink_.message(date_, ShortMessage::pitchBend(on.channel, bend));
            last = bend;
        }
        sink_.message(date_, ShortMessage::noteOn(on.channel, drum ? on.key : keyOf_[k], velocity));
    }

    // The plan's key tables, copied beside the run's own state.
    void copyKeyTables() {
        if (retuning_ == nullptr) return;
        for (int k = 0; k < kMidiKeys; ++k) {
            keyOf_[static_cast<size_t>(k)] = static_cast<uint8_t>(retuning_->soundingKey(k));
            soundMask_[static_cast<size_t>(k)] = retuning_->sounds(k) ? 0x7F : 0;
        }
    }

    const PerformanceOptions& options_;
    const bool live_;
    const VoiceMask written_;
    const SoundingRule rule_;
    PerformanceSink& sink_;
    PerformanceControl& control_;
    NoteEngine engine_;
    std::array<VoiceCursor, kVoices> cursors_{};
    int64_t date_ = 0;
    Settings edited_{};  // a live run's settings, edits included
    // The tuning the notes go through; none when it changes no note (MTS or a device's own
    // key tuning with every key mapped), so that such a run costs what an untuned one does.
    const Retuning* retuning_ =
        options_.retuning != nullptr && options_.retuning->changesNotes() ? options_.retuning : nullptr;
    bool tuningSent_ = false;
    const bool bends_ = retuning_ != nullptr && retuning_->output() == TuningOutput::PitchBend;
    const int percussion_ = options_.percussionChannel & 0x0F;
    std::array<uint8_t, kMidiKeys> keyOf_{};      // the key struck for a key of a tuned voice
    std::array<uint8_t, kMidiKeys> soundMask_{};  // 0x7F where a key sounds, 0 where it does not
    std::array<int32_t, 16> lastBends_ = filledBends();  // the bend each channel holds; -1: not sent yet

    static std::array<int32_t, 16> filledBends() {
        std::array<int32_t, 16> b;
        b.fill(-1);
        return b;
    }
};

}  // namespace

std::span<const Settings> playedSettings(const PerformanceOptions& options, const Settings& current,
                                         std::span<const Settings> events) {
    switch (options.mode) {
        case PerformanceMode::Live:
        case PerformanceMode::ExportCurrent: return {&current, 1};
        case PerformanceMode::Audition:
            if (options.firstEvent < 0 || static_cast<size_t>(options.firstEvent) >= events.size()) return {};
            return events.subspan(static_cast<size_t>(options.firstEvent), 1);
        case PerformanceMode::Composition:
            return events.subspan(std::min(events.size(), static_cast<size_t>(std::max(options.firstEvent, 0))));
        case PerformanceMode::ExportComposition: return events;
    }
    return {};
}

PerformanceEnd perform(const PerformanceOptions& options, const Settings& current, std::span<const Settings> events,
                       PerformanceSink& sink, PerformanceControl& control) {
    Run run(options, current, events, sink, control);
    bool completed = true;
    const Settings* last = nullptr;
    switch (options.mode) {
        case PerformanceMode::Live:
        case PerformanceMode::ExportCurrent:
            last = &current;
            completed = run.playEvent(0, current);
            break;
        case PerformanceMode::Audition:
            if (options.firstEvent >= 0 && static_cast<size_t>(options.firstEvent) < events.size()) {
                last = &events[static_cast<size_t>(options.firstEvent)];
                completed = run.playEvent(options.firstEvent, *last);
            }
            break;
        case PerformanceMode::Composition:
        case PerformanceMode::ExportComposition: {
            const int first = options.mode == PerformanceMode::Composition ? std::max(options.firstEvent, 0) : 0;
            for (size_t i = static_cast<size_t>(first); i < events.size() && completed; ++i) {
                if (!control.playing()) {
                    completed = false;
                    break;
                }
                last = &events[i];
                completed = run.playEvent(static_cast<int>(i), *last);
            }
            break;
        }
    }
    run.finish(last);
    return completed ? PerformanceEnd::Completed : PerformanceEnd::Stopped;
}

PerformanceEnd performCurrent(PerformanceMode mode, const Settings& current, PerformanceSink& sink,
                              PerformanceControl& control, int32_t percussionChannel) {
    PerformanceOptions options;
    options.mode = mode;
    options.percussionChannel = percussionChannel;
    return perform(options, current, {}, sink, control);
}

PerformanceEnd performComposition(PerformanceMode mode, std::span<const Settings> events, int firstEvent,
                                  PerformanceSink& sink, PerformanceControl& control, int32_t percussionChannel) {
    PerformanceOptions options;
    options.mode = mode;
    options.firstEvent = firstEvent;
    options.percussionChannel = percussionChannel;
    static const Settings kNone{};
    return perform(options, kNone, events, sink, control);
}

}  // namespace tarrowin
