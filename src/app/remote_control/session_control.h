#pragma once
// Tarrowin under a session manager (NSM): started with NSM_URL, it announces itself and
// opens no JACK client until the manager's open. Then the manager decides where the
// document lives (<path>.trw, created when new), the JACK client is named by the id the
// manager gives, and the MIDI output, percussion channel and window state come from the
// session's settings file (<path>.settings) instead of "MidiOut Setup". The manager's save
// writes both; the manager is told when the document has unsaved changes (from the undo
// history's saved state) and when the window is hidden or shown. Closing the window hides
// it when the manager can show it again; nothing asks to save.
//
// The manager's messages arrive on liblo's thread and are acted on here, on the window's.

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "remote/nsm_client.h"
#include "remote/session_settings.h"

namespace tarrowin::app {

class MainWindow;
class Workspace;

class SessionControl : public QObject {
    Q_OBJECT
   public:
    // How long the manager has to answer the announce before Tarrowin starts without it.
    static constexpr int kAnnounceTimeoutMs = 5000;

    // Announces Tarrowin to the manager at `url` and waits for its answer: the session
    // control when the manager took the announce, else nothing, and Tarrowin starts as
    // without a manager.
    static std::unique_ptr<SessionControl> join(const QString& url, Workspace& workspace, MainWindow& window);
    ~SessionControl() override;

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    SessionControl(Workspace& workspace, MainWindow& window);
    void open(const QString& path, const QString& clientId);
    void save();
    void showWindow(bool shown);
    void chooseDevice(const remote::SessionSettings& settings);
    void tellDirty();

    Workspace& ws_;
    MainWindow& window_;
    std::unique_ptr<remote::NsmClient> client_;
    bool announced_ = false;
    bool refused_ = false;
    bool managerShowsWindow_ = false;  // the manager has :optional-gui:
    QString path_;                     // the manager's path of the open project
    bool opened_ = false;
    int lastDirty_ = -1;               // what the manager was told: -1 nothing yet
    QList<QPointer<QWidget>> hiddenWindows_;
};

}  // namespace tarrowin::app
