#include "play_session.h"

#include "document_controller.h"
#include "playback_controller.h"
#include "wait_cursor.h"

namespace tarrowin::app {

namespace {
const QString kPlayStep = QStringLiteral("Play");
}

PlaySession::PlaySession(DocumentController& document, PlaybackController& playback, QObject* parent)
    : QObject(parent), document_(document), playback_(playback) {
    connect(&document_, &DocumentController::replaced, this, &PlaySession::documentReplaced);
    connect(&document_, &DocumentController::changed, this, &PlaySession::documentChanged);
    connect(&playback_, &PlaybackController::eventStarted, this, &PlaySession::eventStarted);
    connect(&playback_, &PlaybackController::playFinished, this, &PlaySession::playFinished);
}

PlayResult PlaySession::play() {
    if (!playback_.canPlay()) return {PlayStatus::Busy, "Tarrowin is playing already"};
    if (!document_.takeTypedInput()) return {PlayStatus::Busy, "A field of the window holds a value it does not take"};
    Q_EMIT aboutToPlay();
    document_.beginGroup(kPlayStep, DocumentController::Scope::Current);
    playGeneration_ = generation_;
    PlayResult r;
    {
        WaitCursor wait;  // a sound server may take a moment to start the synthesizer's stream
        r = playback_.play(document_.doc());
    }
    if (!r.started()) document_.endGroup();
    return r;
}

void PlaySession::documentReplaced() {
    ++generation_;
    playback_.setLocked(false);
    playback_.setUpdateWhilePlaying(false);
    const bool events = !document_.doc().composition().isEmpty();
    playback_.setPlayFromEvent(events ? std::optional<int>(0) : std::nullopt);
    playback_.setPlayMode(events ? PlayMode::Composition : PlayMode::CurrentSettings);
}

void PlaySession::documentChanged() {
    if (playStateOf(playbackState(playback_)).liveEditing) playback_.publishSettings(document_.doc().current());
    // "Play from Event" lists every event, and "Composition" needs at least one.
    const int events = document_.doc().composition().count();
    if (const auto chosen = playback_.playFromEvent(); chosen && *chosen >= events) playback_.setPlayFromEvent(std::nullopt);
    if (events == 0) playback_.setPlayMode(PlayMode::CurrentSettings);
}

void PlaySession::eventStarted(int index) {
    if (playGeneration_ != generation_ || playback_.runningMode() != PerformanceMode::Composition) return;
    if (!playback_.updateWhilePlaying()) return;
    document_.edit(kPlayStep, DocumentController::Scope::Current,
                   [index](CTarrowinDoc& d) { d.LoadEventIntoCurrentSettings(index); });
    playback_.setPlayFromEvent(index);
}

void PlaySession::playFinished(const PlaybackFinish& finish) {
    if (playGeneration_ == generation_ && finish.mode == PerformanceMode::Live) {
        document_.edit(kPlayStep, DocumentController::Scope::Current, [&finish](CTarrowinDoc& d) {
            if (d.global().endCounter != finish.endCounter) d.setEndCounter(finish.endCounter);
        });
    }
    document_.endGroup();
    Q_EMIT playEnded(finish);
}

UiState playbackState(const PlaybackController& p) {
    UiState s;
    s.playing = p.isPlaying();
    s.coolingDown = !s.playing && !p.canPlay();
    s.auditioning = p.isAuditioning();
    s.compositionRunning = s.playing && p.runningMode() == PerformanceMode::Composition;
    s.locked = p.locked();
    s.compositionMode = p.playMode() == PlayMode::Composition;
    s.updateWhilePlaying = p.updateWhilePlaying();
    s.sync = p.syncMode();
    s.sendMidiClock = p.sendsMidiClock();
    s.editWhilePlaying = p.editWhilePlaying();
    s.recording = p.recording();
    return s;
}

}  // namespace tarrowin::app
