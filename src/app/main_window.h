#pragma once
// The main window: the menus, the toolbar and the status bar around the main form, the one
// routine that decides what is enabled and checked, and the commands that are not a tool's:
// playback, the device dialogs, the outside programs, help and About.

#include <QMainWindow>
#include <array>

#include "command_state.h"
#include "engine/settings.h"
#include "theme.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;

namespace tarrowin {
struct PlayResult;
struct PlaybackFinish;
}

namespace tarrowin::app {

class Workspace;
class TarrowinView;
class VoiceDialogs;
class StatusLabel;
class ToolWindows;
class ReportWindows;
class NotesCommand;
class AudioExport;
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
    // Options > Theme: the item of each theme, checked for the one in use.
    QAction* themeAction(Theme t) const { return themeActions_[static_cast<size_t>(t)]; }
    void chooseTheme(Theme t);
    TarrowinView& view() const { return *view_; }
    VoiceDialogs& voiceDialogs() const { return *voiceDialogs_; }
    ToolWindows& tools() const { return *tools_; }
    ReportWindows& reports() const { return *reports_; }
    NotesCommand& notes() const { return *notes_; }
    FileCommands& files() const { return *files_; }
    CrashRecovery& recovery() const { return *recovery_; }
    RemoteControl& remote() const { return *remote_; }

    // The state the enabling rules read, and the routine that applies them to every
    // command, the form and the tool windows. It runs whenever that state changes.
    UiState uiState() const;
    void stabilize();

    // The window has no sizing border: its size is what the form needs, at least
    // kMinWindowSize, and follows a change of font or style from then on.
    void fitToContents();

    // Play and Stop of the "&Playback Controls" menu. Play's result says why nothing plays.
    PlayResult play();
    void stop();

    // The program is ended from outside (a session manager, a logout, the terminal): no
    // question can be asked, so the unsaved changes are left as a recovery copy for the next
    // start, and the event loops end with `exitCode`.
    void endFromOutside(int exitCode);

   protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

   private:
    void createActions();
    void createMenus();
    void createAlgorithmsMenu(QMenu* menu);
    void createThemeMenu(QMenu* menu);
    void createToolbar();
    void connectCommands();
    void documentReplaced();
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
    NotesCommand* notes_;
    AudioExport* audio_;
    FileCommands* files_;
    CrashRecovery* recovery_;
    RemoteControl* remote_;
    std::array<QAction*, kCommands> actions_{};
    std::array<std::array<QAction*, kAlgorithms>, kVoices> algorithmActions_{};
    std::array<QAction*, std::size(kThemes)> themeActions_{};
    QToolBar* toolbar_ = nullptr;
    QActionGroup* syncGroup_ = nullptr;
    StatusLabel* status_ = nullptr;
    QLabel* recoveryOff_ = nullptr;
    QTimer* positionTimer_ = nullptr;
    QWidget* help_ = nullptr;
    // What the sync last said: shown instead of the position while the play waits for its
    // master (until the first event begins), and beside it, or after the play, otherwise.
    QString syncNote_;
    bool waitingForMaster_ = false;
    bool fitted_ = false;
};

}  // namespace tarrowin::app
