// Remote control in the window: a request is refused exactly where the window disables the
// control it stands for, and while a dialog holds the window; a voice switched during a play
// is switched in the play; a flood is applied a slice at a time, its tempo steps as one undo
// step. (Each message end to end, with its answers: tests/e2e/test_remote_control.py.)
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QtTest>

#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/remote_control/remote_control.h"
#include "app_test_support.h"
#include "remote/osc_test_support.h"
#include "remote/remote_rules.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;
using tarrowin::remote::testing::Controller;
using tarrowin::remote::testing::packet;

namespace {

std::vector<uint8_t> number(const char* path, int32_t value) {
    return packet(path, [value](lo_message m) { lo_message_add_int32(m, value); });
}

}  // namespace

class RemoteControlTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() {
        w_ = std::make_unique<WindowUnderTest>();
        QCOMPARE(remote().apply({true, 0, false, 0}), QString());
    }
    void cleanup() { w_.reset(); }

    void refusedWhereTheWindowDisablesItsControl();
    void playSwitchAndStop();
    void aFloodIsAppliedInSlices();

   private:
    Workspace& ws() { return w_->ws(); }
    RemoteControl& remote() { return w_->window->remote(); }
    uint16_t port() { return remote().port(); }
    std::unique_ptr<WindowUnderTest> w_;
};

void RemoteControlTest::refusedWhereTheWindowDisablesItsControl() {
    using remote::Request;
    using remote::RequestKind;
    using remote::VoiceSetting;
    TarrowinView& view = w_->window->view();
    struct Pair {
        Request request;
        std::function<bool(const UiState&)> enabled;  // the window's control for the same change
    };
    const auto voice = [](VoiceSetting s, int v, int64_t value) { return Request{RequestKind::VoiceSetting, v, s, value}; };
    const auto on = [](QWidget* w) { return [w](const UiState&) { return w->isEnabled(); }; };
    const auto command = [](Command c) { return [c](const UiState& s) { return commandState(c, s).enabled; }; };
    // Voice 1 is on and voice 2 off in a new document.
    const std::vector<Pair> pairs = {
        {{RequestKind::Tempo, -1, VoiceSetting::Param1, 150}, on(view.tempoBar())},
        {{RequestKind::StartCounter, -1, VoiceSetting::Param1, 8}, on(view.startEdit())},
        {{RequestKind::EndCounter, -1, VoiceSetting::Param1, 8}, on(view.endEdit())},
        {{RequestKind::VoiceOn, 0, VoiceSetting::Param1, 0}, on(view.row(0).control(VoiceRow::Voice))},
        {voice(VoiceSetting::Param1, 0, 9), on(view.row(0).control(VoiceRow::Param1))},
        {voice(VoiceSetting::Scale, 0, 3), on(view.row(0).control(VoiceRow::Scale))},
        {voice(VoiceSetting::Dynamic, 0, 3), on(view.row(0).control(VoiceRow::Extra))},
        {voice(VoiceSetting::Param2, 1, 9), on(view.row(1).control(VoiceRow::Param2))},
        {{RequestKind::Mode, -1, VoiceSetting::Param1, 0}, command(Command::CurrentSettings)},
        {{RequestKind::Play}, command(Command::Play)},
    };
    UiState idle;
    UiState live = idle;
    live.playing = true;
    UiState composition = live;
    composition.compositionRunning = true;
    composition.compositionMode = composition.eventsExist = true;
    UiState audition = live;
    audition.auditioning = true;
    UiState locked = idle;
    locked.locked = true;
    UiState cooling = idle;
    cooling.coolingDown = true;
    for (const UiState& s : {idle, live, composition, audition, locked, cooling}) {
        view.stabilize(s);
        for (const Pair& p : pairs)
            QCOMPARE(!remote::refusal(p.request, ws().document.doc(), playStateOf(s)).has_value(), p.enabled(s));
    }
}

void RemoteControlTest::playSwitchAndStop() {
    Controller c;
    // While a dialog holds the window, its controls take nothing, and so the messages.
    QDialog dialog(w_->window.get());
    QTimer::singleShot(0, [&] {
        c.send(packet("/tarrowin/play"), port());
        (void)QTest::qWaitFor([&] { return c.answered(); }, 5000);
        dialog.reject();
    });
    dialog.exec();
    QVERIFY(c.answered());
    QCOMPARE(QString::fromStdString(c.receive().args), QStringLiteral("Tarrowin is showing a dialog: close it first"));
    QVERIFY(!ws().playback.isPlaying());

    c.send(packet("/tarrowin/play"), port());
    QTRY_VERIFY(ws().playback.isPlaying());
    c.send(number("/tarrowin/voice/1/on", 0), port());  // switched live, as its button does
    QTRY_VERIFY(!ws().playback.player().voiceOn(0));
    QCOMPARE(ws().document.undoName(), QStringLiteral("Switch off voice 1"));
    c.send(packet("/tarrowin/stop"), port());
    QTRY_VERIFY(!ws().playback.isPlaying());
}

void RemoteControlTest::aFloodIsAppliedInSlices() {
    for (int i = 0; i < 10000; ++i)
        remote().queue().add({remote::Request{remote::RequestKind::Tempo, -1, remote::VoiceSetting::Param1, 20 + i % 300}, {}});
    // One slice takes a few milliseconds' worth and leaves the rest for later turns of the
    // event loop, where the window's own events come first.
    remote().applyWaiting();
    QVERIFY(remote().queue().size() > 0);
    QVERIFY(remote().queue().size() < 10000);
    QTRY_COMPARE_WITH_TIMEOUT(remote().queue().size(), size_t(0), 60000);
    QCOMPARE(ws().document.doc().global().tempo, 20 + 9999 % 300);
    // Tempo changes in a row are one step, as moves of the tempo bar are.
    ws().document.undo();
    QCOMPARE(ws().document.doc().global().tempo, 96);
    QVERIFY(!ws().document.canUndo());
}

TARROWIN_QTEST_MAIN(RemoteControlTest)
#include "remote_control_test.moc"
