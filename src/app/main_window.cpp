#include "main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWhatsThis>
#include <algorithm>

#include "about_dialog.h"
#include "accessibility.h"
#include "audio/audio_export.h"
#include "audio/soundfont_dialog.h"
#include "command_table.h"
#include "device_dialogs.h"
#include "engine/tables.h"
#include "file_commands.h"
#include "form/tarrowin_view.h"
#include "help_window.h"
#include "status_label.h"
#include "notes_view/notes_command.h"
#include "recovery/crash_recovery.h"
#include "remote_control/remote_control.h"
#include "reports/report_windows.h"
#include "startup.h"
#include "tools/event_commands.h"
#include "tools/tool_windows.h"
#include "tuning_dialog.h"
#include "voice_dialogs/voice_dialogs.h"
#include "window_placement.h"
#include "workspace.h"

// The icons and the guide are compiled into the app library; a static library's resources
// are registered by hand.
static void registerResources() {
    static const bool once = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)once;
}

namespace tarrowin::app {

namespace {

const QString kIdleStatus = QStringLiteral("For Help, press F1");
const QStringList kCalculators = {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"),
                                  QStringLiteral("galculator"), QStringLiteral("xcalc")};

QIcon commandIcon(const CommandInfo& info) {
    const QIcon bundled = *info.iconFile ? QIcon(QString::fromLatin1(info.iconFile)) : QIcon();
    return *info.themeIcon ? QIcon::fromTheme(QString::fromLatin1(info.themeIcon), bundled) : bundled;
}

}  // namespace

MainWindow::MainWindow(Workspace& workspace, QWidget* parent) : QMainWindow(parent), ws_(workspace) {
    registerResources();
    // The theme chosen in an earlier run, before any widget is made; "System" is the look
    // the program starts with.
    if (const auto theme = themeNamed(ws_.preferences.theme()); theme && *theme != Theme::System) applyTheme(*theme);
    setObjectName(QStringLiteral("MainWindow"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarrowin.svg")));
    voiceDialogs_ = new VoiceDialogs(ws_, this);
    view_ = new TarrowinView(ws_, *voiceDialogs_, this);
    setCentralWidget(view_);
    tools_ = new ToolWindows(ws_, this);
    reports_ = new ReportWindows(ws_, this);
    notes_ = new NotesCommand(ws_, this);
    audio_ = new AudioExport(ws_, this);
    applySoundFont(ws_);
    files_ = new FileCommands(ws_, this);
    // Recovery copies of the modified document; removed with the window at a normal end.
    recovery_ = new CrashRecovery(ws_.document, ws_.prompter, this);
    ws_.prompter.setFallbackParent(this);

    createActions();
    createMenus();
    createToolbar();
    connectCommands();
    setAcceptDrops(true);

    status_ = new StatusLabel(this);
    statusBar()->addWidget(status_, 1);
    statusBar()->setSizeGripEnabled(false);
    // While no recovery copy can be kept, the status bar says so for as long as it lasts.
    recoveryOff_ = new QLabel(QStringLiteral("Recovery copies off"), this);
    statusBar()->addPermanentWidget(recoveryOff_);
    const auto showRecoveryProblem = [this](const QString& problem) {
        recoveryOff_->setVisible(!problem.isEmpty());
        recoveryOff_->setToolTip(problem);
        describeControl(recoveryOff_, problem);
    };
    connect(recovery_, &CrashRecovery::problemChanged, this, showRecoveryProblem);
    showRecoveryProblem(recovery_->problem());
    positionTimer_ = new QTimer(this);
    positionTimer_->setInterval(100);
    connect(positionTimer_, &QTimer::timeout, this, &MainWindow::showStatus);

    connect(&ws_.document, &DocumentController::stateChanged, this, &MainWindow::stabilize);
    connect(&ws_.document, &DocumentController::replaced, this, &MainWindow::documentReplaced);
    connect(&ws_.playback, &PlaybackController::stateChanged, this, &MainWindow::stabilize);
    connect(&ws_.session, &PlaySession::aboutToPlay, recovery_, &CrashRecovery::beforePlay);
    // The sync's remarks: the wait for a master until the first event begins, and why a
    // master ended the play once it has.
    connect(&ws_.session, &PlaySession::aboutToPlay, this, [this] {
        syncNote_.clear();
        waitingForMaster_ = true;
    });
    connect(&ws_.playback, &PlaybackController::takeReady, files_, &FileCommands::saveTake);
    connect(&ws_.playback, &PlaybackController::syncNoticed, this, [this](const QString& text) {
        syncNote_ = text;
        showStatus();
    });
    connect(&ws_.playback, &PlaybackController::eventStarted, this, [this] {
        if (!waitingForMaster_) return;
        waitingForMaster_ = false;
        if (syncNote_.startsWith(QLatin1String("Waiting"))) syncNote_.clear();
    });
    connect(&ws_.session, &PlaySession::playEnded, this, [this](const PlaybackFinish& finish) {
        waitingForMaster_ = false;
        // Why a master ended the play, and the ticks that went out late, stay in the status bar.
        const std::string late = lateTicksReport(finish);
        syncNote_ = QString::fromStdString(finish.why.empty() || late.empty() ? finish.why + late : finish.why + "; " + late);
        showStatus();
    });
    connect(tools_, &ToolWindows::windowsChanged, this, &MainWindow::stabilize);
    connect(reports_, &ReportWindows::windowsChanged, this, &MainWindow::stabilize);
    connect(notes_, &NotesCommand::notesShownChanged, this, &MainWindow::stabilize);

    documentReplaced();
    // OSC controllers, when the user has turned them on; last, as their requests use the window.
    remote_ = new RemoteControl(ws_, *this);
}

MainWindow::~MainWindow() = default;

void MainWindow::createActions() {
    for (size_t i = 0; i < kCommands; ++i) {
        const CommandInfo& info = commandInfo(static_cast<Command>(i));
        auto* a = new QAction(QString::fromLatin1(info.caption), this);
        a->setStatusTip(QString::fromLatin1(info.prompt));
        a->setToolTip(QString::fromLatin1(info.toolTip));
        a->setWhatsThis(QString::fromLatin1(info.prompt));
        a->setIcon(commandIcon(info));
        a->setIconVisibleInMenu(false);
        a->setCheckable(info.checkable);
        QList<QKeySequence> keys;
        for (const QString& k : QString::fromLatin1(info.shortcuts).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            keys << QKeySequence(k);
        a->setShortcuts(keys);
        // Undo and Redo also answer in the tool windows (the Composition Maker edits the
        // document too), and so do the help (F1) and the notes (F2), called up from whichever
        // window has the focus; modal dialogs still keep their keys to themselves.
        if (info.id == Command::Undo || info.id == Command::Redo || info.id == Command::HelpTopics ||
            info.id == Command::Notes)
            a->setShortcutContext(Qt::ApplicationShortcut);
        actions_[i] = a;
    }
}

void MainWindow::createMenus() {
    for (const MenuLayout& layout : menuLayout()) {
        const QString title = QString::fromLatin1(layout.title);
        if (title == QLatin1String("&Options")) createAlgorithmsMenu(menuBar()->addMenu(QStringLiteral("&Algorithms")));
        QMenu* menu = menuBar()->addMenu(title);
        QMenu* sync = nullptr;
        for (Command c : layout.items) {
            const auto& group = syncCommands();
            if (c == kSeparator) {
                menu->addSeparator();
            } else if (std::find(group.begin(), group.end(), c) != group.end()) {
                // The sync choices are a radio group in a submenu of their own.
                if (sync == nullptr) {
                    sync = menu->addMenu(QString::fromLatin1(kSyncMenuTitle));
                    sync->setObjectName(QStringLiteral("SyncMenu"));
                    syncGroup_ = new QActionGroup(sync);
                }
                syncGroup_->addAction(action(c));
                sync->addAction(action(c));
            } else {
                menu->addAction(action(c));
            }
        }
        if (title == QLatin1String("&Options")) createThemeMenu(menu);
        if (title == QLatin1String("&File")) {
            // The recent files stand before Exit; they are looked up as the menu opens.
            connect(menu, &QMenu::aboutToShow, this,
                    [this, menu] { files_->fillRecentFiles(menu, action(Command::Exit)); });
        }
    }
}

void MainWindow::createAlgorithmsMenu(QMenu* menu) {
    for (int v = 0; v < kVoices; ++v) {
        QMenu* voice = menu->addMenu(QStringLiteral("Voice %1").arg(v + 1));
        auto* group = new QActionGroup(voice);
        for (int a = 0; a < kAlgorithms; ++a) {
            const auto label = kAlgorithmMenuLabels[static_cast<size_t>(a)];
            QAction* item = voice->addAction(QString::fromUtf8(label.data(), qsizetype(label.size())));
            item->setCheckable(true);
            group->addAction(item);
            algorithmActions_[static_cast<size_t>(v)][static_cast<size_t>(a)] = item;
            connect(item, &QAction::triggered, this,
                    [this, v, a] { voiceDialogs_->chooseAlgorithm(v, static_cast<Algorithm>(a)); });
        }
    }
}

void MainWindow::createThemeMenu(QMenu* options) {
    options->addSeparator();
    QMenu* menu = options->addMenu(QStringLiteral("T&heme"));
    auto* group = new QActionGroup(menu);
    const Theme current = themeNamed(ws_.preferences.theme()).value_or(Theme::System);
    for (const Theme t : kThemes) {
        QAction* item = menu->addAction(QLatin1Char('&') + themeName(t));
        item->setCheckable(true);
        item->setChecked(t == current);
        item->setStatusTip(t == Theme::System ? QStringLiteral("The desktop's own look")
                                              : QStringLiteral("Fusion with a %1 palette").arg(themeName(t).toLower()));
        group->addAction(item);
        themeActions_[static_cast<size_t>(t)] = item;
        connect(item, &QAction::triggered, this, [this, t] { chooseTheme(t); });
    }
}

void MainWindow::chooseTheme(Theme t) {
    applyTheme(t);
    ws_.preferences.setTheme(themeName(t));
    themeAction(t)->setChecked(true);
}

QAction* MainWindow::algorithmAction(int v, Algorithm a) const {
    return algorithmActions_[static_cast<size_t>(v)][static_cast<size_t>(a)];
}

void MainWindow::createToolbar() {
    toolbar_ = addToolBar(QStringLiteral("Tool Bar"));
    toolbar_->setObjectName(QStringLiteral("ToolBar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    for (Command c : toolbarLayout()) {
        if (c == kSeparator)
            toolbar_->addSeparator();
        else
            toolbar_->addAction(action(c));
    }
}

void MainWindow::connectCommands() {
    const auto on = [this](Command c, auto&& fn) { connect(action(c), &QAction::triggered, this, fn); };
    on(Command::New, [this] { files_->newDocument(); });
    on(Command::Open, [this] { files_->open(); });
    on(Command::Save, [this] { files_->save(); });
    on(Command::SaveAs, [this] { files_->saveAs(); });
    on(Command::SaveMidi, [this] { files_->saveMidi(); });
    on(Command::ExportAudio, [this] { audio_->run(); });
    on(Command::PlayMidi, [this] { files_->playMidi(); });
    on(Command::Exit, [this] { close(); });
    on(Command::Undo, [this] { ws_.document.undo(); });
    on(Command::Redo, [this] { ws_.document.redo(); });
    on(Command::Play, [this] { play(); });
    on(Command::Stop, [this] { stop(); });
    on(Command::CurrentSettings, [this] {
        ws_.playback.setPlayMode(PlayMode::CurrentSettings);
        stabilize();
    });
    on(Command::Composition, [this] {
        ws_.playback.setPlayMode(PlayMode::Composition);
        stabilize();
    });
    on(Command::UpdateWhilePlaying, [this] { ws_.playback.setUpdateWhilePlaying(!ws_.playback.updateWhilePlaying()); });
    on(Command::GetCurrentNote, [this] { reports_->showCurrentNote(); });
    on(Command::CompositionMaker, [this] { tools_->openCompositionMaker(); });
    on(Command::ReplaceEvent, [this] { replaceEvent(); });
    on(Command::Randomizer, [this] { tools_->openRandomizer(); });
    on(Command::MultiVoiceEditor, [this] { tools_->openMultipleVoiceEditor(); });
    on(Command::CompositionInfo, [this] { reports_->openCompositionInfo(); });
    on(Command::CreateImage, [this] { reports_->createImage(); });
    on(Command::MidiOut, [this] { chooseMidiOut(); });
    on(Command::PercussionChannel, [this] { choosePercussionChannel(); });
    on(Command::SoundFont, [this] { chooseSoundFont(ws_, this); });
    on(Command::Tuning, [this] { editTuning(ws_, this); });
    on(Command::MidiPlayer, [this] { files_->chooseMidiPlayer(); });
    on(Command::RemoteControl, [this] { remote_->configure(); });
    for (Command c : syncCommands()) on(c, [this, c] { chooseSync(c); });
    on(Command::SendMidiClock, [this](bool on) {
        ws_.playback.setSendsMidiClock(on);
        ws_.preferences.setSendMidiClock(on);
    });
    on(Command::EditWhilePlaying, [this](bool on) {
        ws_.playback.setEditWhilePlaying(on);
        ws_.preferences.setEditWhilePlaying(on);
    });
    on(Command::RecordPerformance, [this](bool on) { ws_.playback.setRecording(on); });
    on(Command::Calculator, [this] { startCalculator(); });
    on(Command::Toolbar, [this](bool shown) {
        toolbar_->setVisible(shown);
        stabilize();
    });
    on(Command::StatusBar, [this](bool shown) {
        statusBar()->setVisible(shown);
        stabilize();
    });
    on(Command::Notes, [this](bool shown) { notes_->setNotesShown(shown); });
    on(Command::HelpTopics, [this] { showHelp(); });
    on(Command::WhatsThis, [] { QWhatsThis::enterWhatsThisMode(); });
    on(Command::About, [this] { showAbout(); });
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& m) {
        if (m.isEmpty()) showStatus();
    });
}

UiState MainWindow::uiState() const {
    UiState s = playbackState(ws_.playback);
    s.eventsExist = !ws_.document.doc().composition().isEmpty();
    s.canUndo = ws_.document.canUndo();
    s.canRedo = ws_.document.canRedo();
    s.makerOpen = tools_->isMakerOpen();
    s.infoOpen = reports_->isInfoOpen();
    s.imageOpen = reports_->isImageOpen();
    s.toolbarShown = !toolbar_->isHidden();
    s.statusBarShown = !statusBar()->isHidden();
    s.notesShown = notes_->notesShown();
    s.sessionManaged = ws_.sessionManaged;
    return s;
}

void MainWindow::stabilize() {
    const UiState s = uiState();
    for (size_t i = 0; i < kCommands; ++i) {
        const CommandState cs = commandState(static_cast<Command>(i), s);
        actions_[i]->setEnabled(cs.enabled);
        if (actions_[i]->isCheckable()) actions_[i]->setChecked(cs.checked);
    }
    const auto named = [](const char* verb, const QString& step) {
        return step.isEmpty() ? QString::fromLatin1(verb) : QStringLiteral("%1 %2").arg(QLatin1String(verb), step);
    };
    action(Command::Undo)->setText(named("&Undo", ws_.document.undoName()));
    action(Command::Redo)->setText(named("&Redo", ws_.document.redoName()));
    const bool algorithmsOpen = remote::settingsEditable(playStateOf(s));
    for (int v = 0; v < kVoices; ++v) {
        const auto current = static_cast<size_t>(ws_.document.doc().voice(v).algorithm);
        for (size_t a = 0; a < kAlgorithms; ++a) {
            QAction* item = algorithmActions_[static_cast<size_t>(v)][a];
            item->setEnabled(algorithmsOpen);
            item->setChecked(a == current);
        }
    }
    setWindowTitle(QStringLiteral("Tarrowin 2.5 - %1[*]").arg(ws_.document.title()));
    setWindowModified(ws_.document.isModified());
    view_->stabilize(s);
    tools_->stabilize(s);
    notes_->stabilize(s);
    if (s.playing && !positionTimer_->isActive()) positionTimer_->start();
    if (!s.playing) positionTimer_->stop();
    showStatus();
}

void MainWindow::showStatus() {
    // A prompt on hover stays until the pointer leaves; then the idle text, or the playing
    // position, comes back.
    if (!statusBar()->currentMessage().isEmpty()) {
        status_->setStatus({});
        return;
    }
    const PlaybackController& p = ws_.playback;
    QString text;
    if (!p.isPlaying()) {
        text = syncNote_.isEmpty() ? kIdleStatus : syncNote_;
    } else if (waitingForMaster_ && !syncNote_.isEmpty()) {
        text = syncNote_;
    } else {
        text = p.runningMode() == PerformanceMode::Live
                   ? QStringLiteral("Playing the current settings: counter %1").arg(p.position())
                   : QStringLiteral("Playing event %1: counter %2").arg(p.currentEvent()).arg(p.position());
        if (p.recording()) text += QStringLiteral(" - Recording");
        if (!syncNote_.isEmpty()) text += QStringLiteral(" - ") + syncNote_;
    }
    status_->setStatus(text);
}

void MainWindow::documentReplaced() {
    tools_->closeAll();
    reports_->closeAll();
    view_->initialUpdate();
    stabilize();
}

PlayResult MainWindow::play() {
    const PlayResult r = ws_.session.play();
    if (r.status == PlayStatus::DeviceError || r.status == PlayStatus::SyncError || r.status == PlayStatus::TuningConflict)
        showMessage(this, QString::fromStdString(r.message), QStringLiteral("Tarrowin"), MessageIcon::Stop);
    return r;
}

void MainWindow::stop() { ws_.playback.stop(); }

void MainWindow::chooseSync(Command c) {
    const SyncMode mode = syncModeOf(c);
    ws_.playback.setSyncMode(mode);
    ws_.preferences.setSyncMode(mode);
}

void MainWindow::replaceEvent() {
    // The event takes what the form shows, typed values included; without a chosen event
    // the command only says so and the form is left as typed.
    const auto chosen = ws_.playback.playFromEvent();
    if (chosen && !ws_.document.takeTypedInput()) return;
    const CounterEdits edits{view_->startEdit()->text().toInt(), view_->endEdit()->text().toInt()};
    ws_.document.change(QStringLiteral("Replace Event %1").arg(chosen.value_or(0)),
                        DocumentController::Scope::Composition, [&](CTarrowinDoc& d) {
                            return replaceEventWithCurrentSettings(d, ws_.prompter, chosen, edits).done();
                        });
}

void MainWindow::chooseMidiOut() {
    MidiOutput& out = ws_.playback.output();
    out.countDevices();
    MidiOutSetupDialog dialog(out.setupRows(), this);
    dialog.exec();
    out.chooseDevice(dialog.device());
    out.prepare();
}

void MainWindow::choosePercussionChannel() {
    MidiOutput& out = ws_.playback.output();
    PercussionChannelDialog dialog(out.percussionChannel(), this);
    dialog.exec();
    out.setPercussionChannel(dialog.channel());
    stabilize();  // what the notes view shows depends on it
}

void MainWindow::startCalculator() {
    for (const QString& program : kCalculators) {
        if (!QStandardPaths::findExecutable(program).isEmpty() && QProcess::startDetached(program, {})) return;
    }
    showMessage(this, QStringLiteral("%1 was not found").arg(kCalculators.constFirst()), QStringLiteral("Tarrowin"),
                MessageIcon::Exclamation);
}

void MainWindow::showAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::showHelp() {
    if (!help_) help_ = new HelpWindow(this);
    showBeside(help_, this, ws_.preferences);
}

void MainWindow::fitToContents() {
    fitted_ = true;
    setFixedSize(sizeHint().expandedTo(kMinWindowSize));
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (fitted_ && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)) {
        // The layout takes the new measures first.
        QTimer::singleShot(0, this, &MainWindow::fitToContents);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Nothing closes the program while something plays.
    if (ws_.playback.isPlaying() || !files_->maybeSave()) {
        event->ignore();
        return;
    }
    closeOtherWindows();
    event->accept();
}

void MainWindow::endFromOutside(int exitCode) {
    // A session manager ends its clients with SIGTERM and keeps what its last save wrote;
    // a copy left for the next start would offer the session's document outside it.
    if (!ws_.sessionManaged) recovery_->keepForNextStart();
    QCoreApplication::exit(exitCode);
}

void MainWindow::closeOtherWindows() {
    // The program ends with its main window. A window of its own left open would keep it
    // running, and the Composition Maker refuses every close but its own button's.
    tools_->closeAll();
    reports_->closeAll();
    notes_->setNotesShown(false);
    if (help_) help_->close();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && url.toLocalFile().endsWith(QLatin1String(".trw"), Qt::CaseInsensitive)) {
            event->acceptProposedAction();
            return;
        }
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (ws_.playback.isPlaying()) return;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && url.toLocalFile().endsWith(QLatin1String(".trw"), Qt::CaseInsensitive)) {
            event->acceptProposedAction();
            files_->openPath(url.toLocalFile());
            return;
        }
    }
}

}  // namespace tarrowin::app
