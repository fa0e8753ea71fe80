#include "remote_control.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QStatusBar>

#include "app/main_window.h"
#include "app/qt_prompter.h"
#include "remote/remote_rules.h"
#include "remote_control_dialog.h"

namespace tarrowin::app {

namespace {

// How long one slice of requests may keep the window's thread, and how many are taken from
// the queue at a time: a request takes well under a millisecond.
constexpr qint64 kSliceMilliseconds = 8;
constexpr size_t kBatch = 16;

using remote::RequestKind;

}  // namespace

RemoteControl::RemoteControl(Workspace& workspace, MainWindow& window)
    : QObject(&window), ws_(workspace), window_(window) {
    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, &RemoteControl::applyWaiting);
    const RemoteSettings settings = ws_.preferences.remoteControl();
    if (settings.enabled) {
        const QString error = apply(settings);
        if (!error.isEmpty()) {
            const QString text = QStringLiteral("Remote control (OSC) is off: %1").arg(error);
            qWarning("tarrowin: %s", qPrintable(text));
            window.statusBar()->showMessage(text, 15000);
        }
    }
}

RemoteControl::~RemoteControl() {
    // The server's thread posts to this object: it ends first.
    server_.reset();
}

QString RemoteControl::apply(const RemoteSettings& settings) {
    const remote::ServerOptions wanted{static_cast<uint16_t>(settings.port), settings.allNetworks,
                                       static_cast<uint16_t>(settings.answerPort)};
    if (server_ && settings.enabled && server_->options().port == wanted.port &&
        server_->options().allNetworks == wanted.allNetworks && server_->options().answerPort == wanted.answerPort)
        return {};
    server_.reset();
    if (!settings.enabled) return {};
    std::string error;
    // Called on the server's thread when requests start to wait: the slice runs on ours.
    server_ = remote::OscServer::start(wanted, queue_, [this] {
        QMetaObject::invokeMethod(this, [this] { slice_.start(); }, Qt::QueuedConnection);
    }, error);
    return QString::fromStdString(error);
}

QString RemoteControl::status() const {
    if (!server_) return QStringLiteral("Remote control is off");
    return QStringLiteral("Listening on %1, port %2")
        .arg(server_->options().allNetworks ? QStringLiteral("every network") : QStringLiteral("127.0.0.1"))
        .arg(server_->port());
}

void RemoteControl::configure() {
    RemoteControlDialog dialog(ws_.preferences.remoteControl(), status(), &window_);
    while (dialog.exec() == QDialog::Accepted) {
        const RemoteSettings chosen = dialog.settings();
        ws_.preferences.setRemoteControl(chosen);
        const QString error = apply(chosen);
        if (error.isEmpty()) return;
        showMessage(&dialog, QStringLiteral("Remote control cannot listen: %1").arg(error), QStringLiteral("Tarrowin"),
                    MessageIcon::Exclamation);
        dialog.setStatus(status());
    }
}

void RemoteControl::applyWaiting() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kSliceMilliseconds) {
        const auto batch = queue_.take(kBatch);
        if (batch.empty()) return;
        for (const remote::Incoming& in : batch) applyOne(in);
    }
    // More wait: the window's own events go first.
    if (queue_.size() > 0) slice_.start();
}

void RemoteControl::refuse(const remote::Peer& to, const QString& message) const {
    if (server_) server_->answerError(to, message.toStdString());
}

void RemoteControl::applyOne(const remote::Incoming& in) {
    const remote::Request& r = in.request;
    PlaybackController& playback = ws_.playback;
    const remote::PlayState state = playStateOf(window_.uiState());
    if (r.kind == RequestKind::State) {
        if (server_) {
            server_->answerState(in.from, remote::stateReport(ws_.document.doc(), state,
                                                              playback.playMode() == PlayMode::Composition,
                                                              playback.position(), playback.currentEvent()));
        }
        return;
    }
    if (r.kind == RequestKind::Stop) {
        window_.stop();
        return;
    }
    // While a dialog holds the window, its controls take no clicks: nor do they take messages.
    if (QApplication::activeModalWidget() != nullptr) {
        refuse(in.from, QStringLiteral("Tarrowin is showing a dialog: close it first"));
        return;
    }
    if (const auto why = remote::refusal(r, ws_.document.doc(), state)) {
        refuse(in.from, QString::fromStdString(*why));
        return;
    }
    switch (r.kind) {
        case RequestKind::Play: {
            const PlayResult result = window_.play();
            if (!result.started()) refuse(in.from, QString::fromStdString(result.message));
            return;
        }
        case RequestKind::Mode:
            playback.setPlayMode(r.value != 0 ? PlayMode::Composition : PlayMode::CurrentSettings);
            window_.stabilize();
            return;
        default: break;
    }
    const auto edit = remote::editFor(r, ws_.document.doc());
    if (!edit) return;
    ws_.document.edit(QString::fromStdString(edit->name), DocumentController::Scope::Current, edit->apply,
                      edit->tempo ? DocumentController::TempoMerge : DocumentController::NoMerge);
    // A voice switched while its settings play is switched in the play too, as its button does.
    if (r.kind == RequestKind::VoiceOn && state.playing && !state.auditioning) playback.setVoiceOn(r.voice, r.value != 0);
}

}  // namespace tarrowin::app
