#include "playback_controller.h"

#include "document/document.h"

namespace tarrowin::app {

PlaybackController::PlaybackController(std::unique_ptr<MidiOutput> output, Clock& clock, PlayerOptions options,
                                       QObject* parent)
    : QObject(parent), output_(std::move(output)), player_(std::make_unique<Player>(*output_, clock, options)) {
    qRegisterMetaType<tarrowin::PlaybackFinish>();
    qRegisterMetaType<tarrowin::PerformanceTake>();
    player_->setListener(this);
}

PlaybackController::~PlaybackController() {
    // The player's threads report to this object: end them while it still exists.
    player_.reset();
}

void PlaybackController::setPlayMode(PlayMode mode) {
    if (mode_ == mode) return;
    mode_ = mode;
    if (mode == PlayMode::CurrentSettings) updateWhilePlaying_ = false;
    Q_EMIT stateChanged();
}

void PlaybackController::setUpdateWhilePlaying(bool on) {
    if (updateWhilePlaying_ == on) return;
    updateWhilePlaying_ = on;
    Q_EMIT stateChanged();
}

void PlaybackController::setLocked(bool on) {
    if (locked_ == on) return;
    locked_ = on;
    player_->setLock(on);
    Q_EMIT stateChanged();
}

void PlaybackController::setPlayFromEvent(std::optional<int> index) {
    if (playFromEvent_ == index) return;
    playFromEvent_ = index;
    Q_EMIT playFromEventChanged(index);
}

void PlaybackController::setSyncMode(SyncMode mode) {
    if (sync_.mode == mode) return;
    sync_.mode = mode;
    Q_EMIT stateChanged();
}

void PlaybackController::setSendsMidiClock(bool on) {
    if (sync_.clockOut == on) return;
    sync_.clockOut = on;
    Q_EMIT stateChanged();
}

void PlaybackController::setEditWhilePlaying(bool on) {
    if (editWhilePlaying_ == on) return;
    editWhilePlaying_ = on;
    Q_EMIT stateChanged();
}

void PlaybackController::setRecording(bool on) {
    if (recording() == on) return;
    player_->setRecording(on);
    Q_EMIT stateChanged();
}

PlayResult PlaybackController::play(const CTarrowinDoc& doc) {
    PlayRequest request = mode_ == PlayMode::Composition ? PlayRequest::composition(doc, playFromEvent_.value_or(0))
                                                         : PlayRequest::live(doc, locked_);
    request.sync = sync_;
    return start(std::move(request));
}

PlayResult PlaybackController::audition(const CTarrowinDoc& doc, int event) {
    return start(PlayRequest::audition(doc, event));
}

PlayResult PlaybackController::start(PlayRequest request) {
    const PerformanceMode mode = request.mode;
    PlayResult r = player_->play(std::move(request));
    if (r.started()) {
        running_ = mode;
        endPending_ = true;
        Q_EMIT stateChanged();
    }
    return r;
}

void PlaybackController::stop() {
    const bool was = isPlaying();
    player_->stop();
    if (was) Q_EMIT stateChanged();
}

void PlaybackController::eventBegins(int index) {
    mailbox_.post([this, index] { Q_EMIT eventStarted(index); });
}

void PlaybackController::playbackFinished(const PlaybackFinish& finish) {
    mailbox_.post([this, finish] {
        endPending_ = false;
        Q_EMIT playFinished(finish);
        Q_EMIT stateChanged();
    });
}

void PlaybackController::syncNotice(const std::string& text) {
    const QString note = QString::fromStdString(text);
    mailbox_.post([this, note] { Q_EMIT syncNoticed(note); });
}

void PlaybackController::takeRecorded(PerformanceTake take) {
    QMetaObject::invokeMethod(
        this, [this, take = std::move(take)] { Q_EMIT takeReady(take); }, Qt::QueuedConnection);
}

void PlaybackController::playAvailable() {
    mailbox_.post([this] { Q_EMIT stateChanged(); });
}

}  // namespace tarrowin::app
