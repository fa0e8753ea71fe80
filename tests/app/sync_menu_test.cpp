// Options > Sync and "Send MIDI clock": a remembered radio group and check item that reach
// the player, a sync that cannot be had refused with its message, and the status bar saying
// what the master does (a stand-in master: the JACK ones are driven end to end).

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/command_table.h"
#include "app_test_support.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

// Waits (announcing it) until `roll` is set, plays three ticks, then says it stopped.
class StandInMaster final : public TickSource {
   public:
    explicit StandInMaster(std::atomic<bool>& roll) : roll_(roll) {}
    TickTime start(const std::atomic<int32_t>& playing, Clock::Duration) override {
        while (!roll_.load() && playing.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (playing.load() == 0) return TickTime::end();
        return TickTime::move(0, SteadyClock::instance().now());
    }
    TickTime next(int64_t tick, int32_t, const std::atomic<int32_t>&, Clock::Duration) override {
        if (tick >= 3) return TickTime::end("The JACK transport stopped");
        // Tick 2 comes 5 ms after its time, as from a worker held up.
        return TickTime::due(SteadyClock::instance().now() - (tick == 2 ? std::chrono::milliseconds(5) : Clock::Duration{}));
    }
    Clock::Duration spacing(int32_t lengthMs) const override { return std::chrono::milliseconds(lengthMs); }
    void sleepUntil(Clock::Duration) override {}
    std::string takeNotice() override { return std::exchange(notice_, {}); }

   private:
    std::atomic<bool>& roll_;
    std::string notice_ = "Waiting for the JACK transport to roll";
};

// A window whose player takes its sync from the test: the stand-in master, or a refusal.
struct SyncedWindow {
    std::atomic<bool> roll{false};
    std::string refusal;
    SyncOptions asked;
    std::unique_ptr<Workspace> ws;
    std::unique_ptr<MainWindow> window;

    SyncedWindow() {
        auto backend = std::make_unique<RecordingBackend>(SteadyClock::instance(), std::vector<std::string>{"Recorder"}, true);
        std::vector<std::unique_ptr<MidiBackend>> backends;
        backends.push_back(std::move(backend));
        auto output = std::make_unique<MidiOutput>(std::move(backends));
        output->countDevices();
        PlayerOptions options{false};
        options.tickSources = [this](const SyncOptions& sync, Clock& clock, const TempoMap& map) -> TickSourceMade {
            asked = sync;
            if (!refusal.empty()) return {nullptr, refusal};
            if (sync.mode == SyncMode::Internal) return makeTickSource(sync, clock, map);
            return {std::make_unique<StandInMaster>(roll), {}};
        };
        ws = std::make_unique<Workspace>(std::move(output), SteadyClock::instance(), options);
        window = std::make_unique<MainWindow>(*ws);
        window->show();
    }
    QAction* action(Command c) const { return window->action(c); }
    QString status() const {
        const auto labels = window->statusBar()->findChildren<QLabel*>();
        return labels.isEmpty() ? QString() : labels.constFirst()->text();
    }
};

QMenu* syncMenu(MainWindow& w) {
    for (QMenu* m : w.menuBar()->findChildren<QMenu*>()) {
        if (m->title() == QLatin1String(kSyncMenuTitle)) return m;
    }
    return nullptr;
}

}  // namespace

class SyncMenuTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    // Each test starts from the choices a new user has.
    void init() {
        Preferences().setSyncMode(SyncMode::Internal);
        Preferences().setSendMidiClock(false);
    }
    void theChoicesAreOneRememberedRadioGroupThatReachesThePlay();
    void commandStates_data();
    void commandStates();
    void aSyncThatCannotBeHadSaysWhyAndChangesNothing();
    void theStatusBarSaysWhatTheMasterDoes();
};

void SyncMenuTest::theChoicesAreOneRememberedRadioGroupThatReachesThePlay() {
    {
        SyncedWindow w;
        QMenu* menu = syncMenu(*w.window);
        QVERIFY(menu);
        QStringList items;
        for (QAction* a : menu->actions()) items << a->text().remove(QLatin1Char('&'));
        QCOMPARE(items, (QStringList{"Internal", "Follow JACK transport", "JACK timebase master", "Follow MIDI clock"}));
        QVERIFY(w.action(Command::SyncInternal)->isChecked());
        QVERIFY(!w.action(Command::SendMidiClock)->isChecked());

        w.action(Command::SyncFollowJack)->trigger();
        w.action(Command::SendMidiClock)->trigger();
        for (Command c : syncCommands()) QCOMPARE(w.action(c)->isChecked(), c == Command::SyncFollowJack);
        QVERIFY(w.action(Command::SendMidiClock)->isChecked());
        w.roll = true;
        w.window->play();
        QTRY_VERIFY(!w.ws->playback.isPlaying());
        QCOMPARE(w.asked.mode, SyncMode::FollowJack);
        QVERIFY(w.asked.clockOut);
    }
    // A new window (a new start of the program) finds the choices as they were left.
    SyncedWindow again;
    QCOMPARE(again.ws->playback.syncMode(), SyncMode::FollowJack);
    QVERIFY(again.action(Command::SyncFollowJack)->isChecked());
    QVERIFY(again.action(Command::SendMidiClock)->isChecked());
}

void SyncMenuTest::commandStates_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("playing");
    QTest::addColumn<int>("sync");
    QTest::addColumn<bool>("sendClock");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checked");
    const auto row = [](const char* name, Command c, bool playing, SyncMode sync, bool clock, bool enabled, bool checked) {
        QTest::newRow(name) << int(c) << playing << int(sync) << clock << enabled << checked;
    };
    row("internal chosen", Command::SyncInternal, false, SyncMode::Internal, false, true, true);
    row("internal not chosen", Command::SyncInternal, false, SyncMode::MidiClock, false, true, false);
    row("follow chosen, playing", Command::SyncFollowJack, true, SyncMode::FollowJack, false, false, true);
    row("master chosen", Command::SyncJackMaster, false, SyncMode::JackMaster, false, true, true);
    row("clock in chosen", Command::SyncMidiClock, false, SyncMode::MidiClock, false, true, true);
    row("clock in while playing", Command::SyncMidiClock, true, SyncMode::Internal, false, false, false);
    row("send clock on", Command::SendMidiClock, false, SyncMode::Internal, true, true, true);
    row("send clock while playing", Command::SendMidiClock, true, SyncMode::Internal, false, false, false);
}

void SyncMenuTest::commandStates() {
    QFETCH(int, command);
    QFETCH(bool, playing);
    QFETCH(int, sync);
    QFETCH(bool, sendClock);
    QFETCH(bool, enabled);
    QFETCH(bool, checked);
    UiState s;
    s.playing = playing;
    s.sync = static_cast<SyncMode>(sync);
    s.sendMidiClock = sendClock;
    QCOMPARE(commandState(static_cast<Command>(command), s), (CommandState{enabled, checked}));
}

void SyncMenuTest::aSyncThatCannotBeHadSaysWhyAndChangesNothing() {
    SyncedWindow w;
    w.action(Command::SyncJackMaster)->trigger();
    w.refusal = "No JACK server is running: Tarrowin cannot lead the JACK transport";
    MessageBoxes boxes;
    w.window->play();
    QTRY_COMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.lastText(), QString::fromStdString(w.refusal));
    QCOMPARE(boxes.seen().front().icon, QMessageBox::Critical);
    QVERIFY(!w.ws->playback.isPlaying());
    QVERIFY(!w.ws->document.isModified());
    QVERIFY(w.action(Command::Play)->isEnabled());
}

void SyncMenuTest::theStatusBarSaysWhatTheMasterDoes() {
    SyncedWindow w;
    // At its narrowest, and with the status bar's text in a large font, the window stays as
    // wide as it is whatever the bar says; a text wider than the bar is there in full as the
    // bar's tool tip.
    auto* label = w.window->statusBar()->findChild<QLabel*>();
    QFont large = label->font();
    large.setPointSizeF(large.pointSizeF() * 2);
    label->setFont(large);
    w.window->resize(w.window->minimumSizeHint().width(), w.window->height());
    QTRY_COMPARE(w.window->width(), w.window->minimumSizeHint().width());
    const int width = w.window->width();
    w.action(Command::SyncFollowJack)->trigger();
    w.window->play();
    QVERIFY(w.ws->playback.isPlaying());
    QTRY_COMPARE(w.status(), QStringLiteral("Waiting for the JACK transport to roll"));
    QVERIFY(w.action(Command::Stop)->isEnabled());
    w.roll = true;
    QTRY_VERIFY(!w.ws->playback.isPlaying());
    QTRY_VERIFY(w.status().startsWith(
        QStringLiteral("The JACK transport stopped; 1 tick went out more than 1 ms after its time (the latest 5.")));
    QTest::qWait(50);
    QCOMPARE(w.window->width(), width);
    QCOMPARE(label->toolTip(), w.status());
    // The next play starts with a clean status bar.
    QTRY_VERIFY(w.ws->playback.canPlay());
    w.action(Command::SyncInternal)->trigger();
    w.window->play();
    QVERIFY(!w.status().contains(QLatin1String("JACK")));
    w.window->stop();
    QTRY_VERIFY(!w.ws->playback.isPlaying());
    QVERIFY(!w.status().contains(QLatin1String("JACK")));
}

TARROWIN_QTEST_MAIN(SyncMenuTest)
#include "sync_menu_test.moc"
