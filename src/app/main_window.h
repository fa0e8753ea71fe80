#pragma once
// The main window: the menus, the toolbar and the status bar around the main form, the one
// routine that decides what is enabled and checked, and the commands that are not a tool's:
// playback, the device dialogs, the outside programs, help and About.

#include <QMainWindow>
#include <array>

#include "command_state.h"
#include "engine/settings.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;

namespace tarrowin {
struct PlaybackFinish;
struct PlayResult;
}

namespace tarrowin::app {

class Workspace;
class TarrowinView;
class VoiceDialogs;
class ToolWindows;
class ReportWindows;
class SoundAndNotes;
class FileCommands;
class CrashRecovery;
class RemoteControl;

class MainWindow : public QMainWindow {
    Q_OBJECT
   public:
    explicit MainWindow(Workspace& workspace, QWidget* parent = nullptr);
    ~MainWindow() override;

    QAction* action(Command c) const { return actions_[static_cast<size_t>(c)]; }
    QAction* algorithmAction(int v, Algorithm a) const;
    TarrowinView& view() const { return *view_; }
    VoiceDialogs& voiceDialogs() const { return *voiceDialogs_; }
    ToolWindows& tools() const { return *tools_; }
    ReportWindows& reports() const { return *reports_; }
    SoundAndNotes& soundAndNotes() const { return *sound_; }
    FileCommands& files() const { return *files_; }
    CrashRecovery& recovery() const { return *recovery_; }
    RemoteControl& remote() const { return *remote_; }

    // The state the enabling rules read, and the routine that applies them to every
    // command, the form and the tool windows. It runs whenever that state changes.
    UiState uiState() const;
    void stabilize();

    // Play and Stop of the "&Playback Controls" menu. Play's result says why nothing plays.
    PlayResult play();
    void stop();

    // The program is ended from outside (a session manager, a logout, the terminal): no
    // question can be asked, so the unsaved changes are left as a recovery copy for the next
    // start, and the event loops end with `exitCode`.
    void endFromOutside(int exitCode);

   protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

   private:
    void createActions();
    void createMenus();
    void createAlgorithmsMenu(QMenu* menu);
    void createToolbar();
    void connectCommands();
    void documentReplaced();
    void eventStarted(int index);
    void playFinished(const PlaybackFinish& finish);
    void replaceEvent();
    void chooseMidiOut();
    void choosePercussionChannel();
    void startCalculator();
    void showAbout();
    void showHelp();
    void showStatus();
    void chooseSync(Command c);
    void closeOtherWindows();

    Workspace& ws_;
    TarrowinView* view_;
    VoiceDialogs* voiceDialogs_;
    ToolWindows* tools_;
    ReportWindows* reports_;
    SoundAndNotes* sound_;
    FileCommands* files_;
    CrashRecovery* recovery_;
    RemoteControl* remote_;
    std::array<QAction*, kCommands> actions_{};
    std::array<std::array<QAction*, kAlgorithms>, kVoices> algorithmActions_{};
    QToolBar* toolbar_ = nullptr;
    QActionGroup* syncGroup_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* recoveryOff_ = nullptr;
    QTimer* positionTimer_ = nullptr;
    QWidget* help_ = nullptr;
    // What the sync last said: shown instead of the position while the play waits for its
    // master (until the first event begins), and beside it, or after the play, otherwise.
    QString syncNote_;
    bool waitingForMaster_ = false;
    // Each New or Open starts a new generation: a play that began on an older document
    // leaves the new one alone when it finishes.
    int generation_ = 0;
    int playGeneration_ = -1;
};

}  // namespace tarrowin::app
