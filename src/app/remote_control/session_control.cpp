#include "session_control.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include "app/main_window.h"
#include "app/workspace.h"
#include "document/document_file.h"
#include "playback/jack_backend.h"

namespace tarrowin::app {

namespace {

const std::string kOpen = "/nsm/client/open";
const std::string kSave = "/nsm/client/save";

using remote::NsmError;

void warn(const std::string& text) { qWarning("tarrowin: %s", text.c_str()); }

}  // namespace

SessionControl::SessionControl(Workspace& workspace, MainWindow& window)
    : QObject(&window), ws_(workspace), window_(window) {}

SessionControl::~SessionControl() {
    // liblo's thread posts to this object: it ends first.
    client_.reset();
}

std::unique_ptr<SessionControl> SessionControl::join(const QString& url, Workspace& workspace, MainWindow& window) {
    std::unique_ptr<SessionControl> s(new SessionControl(workspace, window));
    SessionControl* self = s.get();
    QEventLoop waiting;
    // Every handler runs on liblo's thread and only posts to this object's.
    const auto post = [self](auto fn) { QMetaObject::invokeMethod(self, std::move(fn), Qt::QueuedConnection); };
    remote::NsmHandlers handlers;
    handlers.announced = [=, &waiting](const std::string&, const std::string& capabilities) {
        post([self, capabilities, &waiting] {
            if (self->announced_ || self->refused_) return;
            self->announced_ = true;
            self->managerShowsWindow_ = remote::hasCapability(capabilities, "optional-gui");
            self->ws_.sessionManaged = true;
            self->window_.installEventFilter(self);
            QObject::connect(&self->ws_.document, &DocumentController::stateChanged, self, &SessionControl::tellDirty);
            self->window_.stabilize();
            // The window stays hidden until the manager opens a project.
            self->client_->guiShown(false);
            waiting.quit();
        });
    };
    handlers.refused = [=, &waiting](const std::string& message) {
        post([self, message, &waiting] {
            if (self->announced_) return;
            self->refused_ = true;
            warn("the session manager refused Tarrowin: " + message);
            waiting.quit();
        });
    };
    handlers.open = [=](const std::string& path, const std::string&, const std::string& clientId) {
        post([self, path = QString::fromStdString(path), id = QString::fromStdString(clientId)] { self->open(path, id); });
    };
    handlers.save = [=] { post([self] { self->save(); }); };
    handlers.showGui = [=](bool shown) { post([self, shown] { self->showWindow(shown); }); };

    std::string error;
    s->client_ = remote::NsmClient::start(url.toStdString(), std::move(handlers), error);
    if (!s->client_) {
        warn(error + "; starting without the session manager");
        return nullptr;
    }
    s->client_->announce("Tarrowin", {true, true, true},
                         QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString(),
                         QCoreApplication::applicationPid());
    QTimer::singleShot(kAnnounceTimeoutMs, &waiting, &QEventLoop::quit);
    if (!s->announced_ && !s->refused_) waiting.exec();
    if (!s->announced_) {
        if (!s->refused_) warn("the session manager at " + url.toStdString() + " did not answer; starting without it");
        s->refused_ = true;  // an answer coming later changes nothing
        return nullptr;
    }
    return s;
}

void SessionControl::open(const QString& path, const QString& clientId) {
    if (!announced_) return;
    if (QApplication::activeModalWidget() != nullptr) {
        client_->error(kOpen, NsmError::NotNow, "A dialog is open in Tarrowin: close it, then open the project again");
        return;
    }
    const remote::SessionFiles files = remote::sessionFiles(path.toStdString());
    const QString document = QString::fromStdString(files.document);
    const bool existed = QFileInfo(document).exists();
    if (!existed) {
        // A new project is a new document, on the disk at once.
        QDir().mkpath(QFileInfo(document).absolutePath());
        CTarrowinDoc fresh;
        fresh.OnNewDocument();
        if (const FileResult made = saveDocumentFile(files.document, fresh); !made.ok) {
            client_->error(kOpen, NsmError::CreateFailed, made.message);
            return;
        }
    }
    // The document read changes nothing when it is refused: the open project stays.
    if (const FileResult r = ws_.document.open(document); !r.ok) {
        client_->error(kOpen, existed ? NsmError::BadProject : NsmError::CreateFailed, r.message);
        return;
    }
    // What played belongs to the project left behind.
    ws_.playback.stop();
    path_ = path;
    opened_ = true;
    JackBackend::setClientName(clientId.toStdString());
    std::vector<std::string> problems;
    const remote::SessionSettings settings = remote::readSessionSettings(files.settings, problems);
    for (const std::string& p : problems) warn(p);
    chooseDevice(settings);
    client_->reply(kOpen, (existed ? "Opened " : "Created ") + files.document);
    lastDirty_ = -1;
    tellDirty();
    showWindow(settings.windowShown || !managerShowsWindow_);
}

void SessionControl::chooseDevice(const remote::SessionSettings& settings) {
    MidiOutput& out = ws_.playback.output();
    out.countDevices();
    const std::vector<std::string> rows = out.setupRows();
    const auto find = [&](const std::string& name) -> std::optional<int32_t> {
        for (size_t row = 0; row < rows.size(); ++row) {
            if (rows[row] == name) return MidiOutput::deviceForRow(static_cast<int>(row));
        }
        return std::nullopt;
    };
    // The device the session was saved with; else, in a studio of JACK programs, the
    // virtual port that the session's connections are made to; else the built-in synthesizer.
    auto device = find(settings.device);
    if (!device && !settings.device.empty()) warn("the session's MIDI output " + settings.device + " is not there");
    if (!device) device = find(JackBackend::virtualPortListing());
    out.chooseDevice(device.value_or(MidiOutput::kMidiMapper));
    if (settings.percussionChannel) out.setPercussionChannel(*settings.percussionChannel);
    // The virtual port appears now, named by the session's id, so that connections can be
    // made (or restored by the session) before anything plays.
    if (out.deviceName(out.selectedDevice()) == JackBackend::virtualPortListing() && !ws_.playback.isPlaying()) {
        if (const OpenResult r = out.open(); r.ok())
            out.close();
        else
            warn(r.message);
    }
}

void SessionControl::save() {
    if (!opened_) {
        client_->error(kSave, NsmError::NoSessionOpen, "No project is open");
        return;
    }
    const remote::SessionFiles files = remote::sessionFiles(path_.toStdString());
    if (const FileResult r = ws_.document.save(QString::fromStdString(files.document)); !r.ok) {
        client_->error(kSave, NsmError::General, r.message);
        return;
    }
    const MidiOutput& out = ws_.playback.output();
    const int32_t device = out.selectedDevice();
    const remote::SessionSettings settings{
        device == MidiOutput::kMidiMapper ? MidiOutput::kMidiMapperName : out.deviceName(device),
        out.percussionChannel(), window_.isVisible()};
    if (const std::string why = remote::writeSessionSettings(files.settings, settings); !why.empty()) {
        client_->error(kSave, NsmError::General, files.settings + " could not be written: " + why);
        return;
    }
    client_->reply(kSave, "Saved " + files.document);
}

void SessionControl::showWindow(bool shown) {
    if (shown) {
        window_.show();
        window_.raise();
        window_.activateWindow();
        for (const QPointer<QWidget>& w : hiddenWindows_) {
            if (w) w->show();
        }
        hiddenWindows_.clear();
    } else {
        // The tool windows go with the main window and come back with it.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w != &window_ && w->isVisible() && w->isWindow()) {
                hiddenWindows_ << w;
                w->hide();
            }
        }
        window_.hide();
    }
    client_->guiShown(window_.isVisible());
}

void SessionControl::tellDirty() {
    if (!opened_) return;
    const int dirty = ws_.document.isModified() ? 1 : 0;
    if (dirty == lastDirty_) return;
    lastDirty_ = dirty;
    client_->dirty(dirty != 0);
}

bool SessionControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_) {
        // The window manager's close hides the window while the manager can show it again.
        if (event->type() == QEvent::Close && event->spontaneous() && managerShowsWindow_ && opened_) {
            event->ignore();
            showWindow(false);
            return true;
        }
        // Files dropped on the window would leave the session's document.
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop) return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarrowin::app
