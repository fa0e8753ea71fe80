// The reports of the player's threads on their way to the window: the mailbox runs each
// on the window's thread, each thread's in the order it posted them, none once the mailbox
// is gone; and Play waits until the window has had the last play's end.
#include <QAction>
#include <QLineEdit>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/command_state.h"
#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/thread_mailbox.h"
#include "app_test_support.h"
#include "playback/fake_clock.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

class PlaybackReportsTest : public QObject {
    Q_OBJECT
   private Q_SLOTS:
    void runsEveryPostOnItsThreadInOrder();
    void dropsWhatArrivesForAMailboxThatIsGone();
    void playWaitsForTheWindowToHaveTheLastPlaysEnd();
};

void PlaybackReportsTest::runsEveryPostOnItsThreadInOrder() {
    constexpr int kThreads = 3;
    constexpr int kPosts = 500;
    ThreadMailbox mailbox;
    std::vector<std::vector<int>> seen(kThreads);
    int elsewhere = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&mailbox, &seen, &elsewhere, t] {
            for (int i = 0; i < kPosts; ++i) {
                mailbox.post([&seen, &elsewhere, t, i] {
                    if (QThread::currentThread() != qApp->thread()) ++elsewhere;
                    seen[static_cast<size_t>(t)].push_back(i);
                });
            }
        });
    }
    for (auto& w : workers) w.join();
    QTRY_COMPARE(seen[0].size() + seen[1].size() + seen[2].size(), size_t(kThreads * kPosts));
    QCOMPARE(elsewhere, 0);
    std::vector<int> inOrder(kPosts);
    for (int i = 0; i < kPosts; ++i) inOrder[static_cast<size_t>(i)] = i;
    for (const auto& s : seen) QCOMPARE(s, inOrder);
}

void PlaybackReportsTest::dropsWhatArrivesForAMailboxThatIsGone() {
    auto ran = std::make_shared<std::atomic<int>>(0);
    {
        ThreadMailbox mailbox;
        std::thread([&mailbox, ran] { mailbox.post([ran] { ran->fetch_add(1); }); }).join();
    }
    QTest::qWait(50);
    QCOMPARE(ran->load(), 0);
}

// The cooldown after Stop lasts one tick; the worker's final messages, its close and its
// report may take longer. Until the window has the play's end (the End counter it writes,
// the undo step it closes), the next Play must wait.
void PlaybackReportsTest::playWaitsForTheWindowToHaveTheLastPlaysEnd() {
    tarrowin::testing::FakeClock clock;
    auto w = std::make_unique<WindowUnderTest>(clock);
    Workspace& ws = w->ws();
    ws.document.edit(QStringLiteral("End"), DocumentController::Scope::Current,
                     [](CTarrowinDoc& d) { d.setEndCounter(50000); });
    w->window->play();
    QVERIFY(ws.playback.isPlaying());
    clock.waitForSleepers();
    w->window->stop();
    clock.runFree();
    // The window takes no event meanwhile: the player is free, the window has not seen the end.
    while (!ws.playback.player().canPlay()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(!ws.playback.canPlay());
    QTRY_VERIFY(ws.playback.canPlay());
    QVERIFY(w->window->action(Command::Play)->isEnabled());
    QCOMPARE(w->window->view().endEdit()->text(), QString::number(ws.document.doc().global().endCounter));
    w.reset();
}

TARROWIN_QTEST_MAIN(PlaybackReportsTest)
#include "playback_reports_test.moc"
