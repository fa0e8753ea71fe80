// Remote control in the window: OSC messages from a controller socket change the document
// as the window's controls do (one undo step each, the window's step names), are refused
// exactly where the window disables the control, answer /tarrowin/state and /tarrowin/error,
// and a flood is applied a slice at a time. The dialog stores its settings.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
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
    void cleanup() {
        w_.reset();
        resetPreferences();
    }

    void messagesEditLikeTheWindow();
    void refusedWhereTheWindowDisablesItsControl();
    void answersStateAndRefusals();
    void playAndStop();
    void aFloodIsAppliedInSlices();
    void dialogStoresTheSettings();

   private:
    // The settings are the test programs' own, shared between runs: left as they were.
    static void resetPreferences() { Preferences().setRemoteControl({}); }
    Workspace& ws() { return w_->ws(); }
    RemoteControl& remote() { return w_->window->remote(); }
    uint16_t port() { return remote().port(); }
    std::unique_ptr<WindowUnderTest> w_;
};

void RemoteControlTest::messagesEditLikeTheWindow() {
    Controller c;
    c.send(number("/tarrowin/voice/1/param1", 77), port());
    QTRY_COMPARE(ws().document.doc().voice(0).param1, 77);
    QCOMPARE(w_->window->view().row(0).edit(VoiceRow::Param1)->text(), QStringLiteral("77"));
    QCOMPARE(w_->window->action(Command::Undo)->text(), QStringLiteral("&Undo Param1 voice 1"));
    c.send(number("/tarrowin/voice/2/on", 1), port());
    QTRY_COMPARE(ws().document.doc().voice(1).enabled, 1);
    QCOMPARE(ws().document.undoName(), QStringLiteral("Switch on voice 2"));
    for (int t : {100, 110, 120}) c.send(number("/tarrowin/tempo", t), port());
    QTRY_COMPARE(ws().document.doc().global().tempo, 120);
    QCOMPARE(w_->window->view().tempoBar()->value(), 120);
    // Tempo messages in a row are one step, as moves of the tempo bar are.
    ws().document.undo();
    QCOMPARE(ws().document.doc().global().tempo, 96);
    ws().document.undo();
    QCOMPARE(ws().document.doc().voice(1).enabled, 0);
    ws().document.undo();
    QCOMPARE(ws().document.doc().voice(0).param1, 2);
    QVERIFY(!ws().document.isModified());
}

void RemoteControlTest::refusedWhereTheWindowDisablesItsControl() {
    using remote::Request;
    using remote::RequestKind;
    using remote::VoiceSetting;
    TarrowinView& view = w_->window->view();
    struct Pair {
        Request request;
        std::function<bool()> enabled;  // the window's control for the same change
    };
    const auto voice = [](VoiceSetting s, int v, int64_t value) { return Request{RequestKind::VoiceSetting, v, s, value}; };
    // Voice 1 is on and voice 2 off in a new document.
    const std::vector<Pair> pairs = {
        {{RequestKind::Tempo, -1, VoiceSetting::Param1, 150}, [&] { return view.tempoBar()->isEnabled(); }},
        {{RequestKind::StartCounter, -1, VoiceSetting::Param1, 8}, [&] { return view.startEdit()->isEnabled(); }},
        {{RequestKind::EndCounter, -1, VoiceSetting::Param1, 8}, [&] { return view.endEdit()->isEnabled(); }},
        {{RequestKind::VoiceOn, 0, VoiceSetting::Param1, 0}, [&] { return view.row(0).control(VoiceRow::Voice)->isEnabled(); }},
        {voice(VoiceSetting::Param1, 0, 9), [&] { return view.row(0).control(VoiceRow::Param1)->isEnabled(); }},
        {voice(VoiceSetting::Scale, 0, 3), [&] { return view.row(0).control(VoiceRow::Scale)->isEnabled(); }},
        {voice(VoiceSetting::Dynamic, 0, 3), [&] { return view.row(0).control(VoiceRow::Extra)->isEnabled(); }},
        {voice(VoiceSetting::Param2, 1, 9), [&] { return view.row(1).control(VoiceRow::Param2)->isEnabled(); }},
        {{RequestKind::Mode, -1, VoiceSetting::Param1, 0},
         [&] { return w_->window->action(Command::CurrentSettings)->isEnabled(); }},
        {{RequestKind::Play}, [&] { return w_->window->action(Command::Play)->isEnabled(); }},
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
        const remote::PlayState state{s.playing, s.auditioning, s.compositionRunning, s.coolingDown, s.locked,
                                      s.eventsExist};
        for (size_t i = 0; i < pairs.size(); ++i) {
            const Pair& p = pairs[i];
            const bool enabled = p.request.kind == RequestKind::Mode || p.request.kind == RequestKind::Play
                                     ? commandState(p.request.kind == RequestKind::Play ? Command::Play
                                                                                         : Command::CurrentSettings,
                                                    s)
                                           .enabled
                                     : p.enabled();
            QCOMPARE(!remote::refusal(p.request, ws().document.doc(), state).has_value(), enabled);
        }
    }
}

void RemoteControlTest::answersStateAndRefusals() {
    Controller c;
    c.send(packet("/tarrowin/state"), port());
    QTRY_VERIFY(c.answered());
    auto a = c.receive();
    QCOMPARE(QString::fromStdString(a.path + " " + a.args), QStringLiteral("/tarrowin/state 0 current 0 96"));
    c.send(number("/tarrowin/voice/1/param1", 1), port());
    QTRY_VERIFY(c.answered());
    QCOMPARE(QString::fromStdString(c.receive().args), QStringLiteral("Please enter an integer between 2 and 1000000."));
    c.send(number("/tarrowin/voice/2/param1", 5), port());  // voice 2 is off
    QTRY_VERIFY(c.answered());
    QCOMPARE(QString::fromStdString(c.receive().args),
             QStringLiteral("Voice 2 is off: its settings change only while it is on"));
    QVERIFY(!ws().document.isModified());

    // While a dialog holds the window, its controls take nothing, and so the messages.
    MessageBoxes boxes;
    QTimer::singleShot(0, [&] { c.send(number("/tarrowin/tempo", 150), port()); });
    showMessage(w_->window.get(), QStringLiteral("A box"), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
    QTRY_VERIFY(c.answered());
    QCOMPARE(QString::fromStdString(c.receive().args), QStringLiteral("Tarrowin is showing a dialog: close it first"));
    QCOMPARE(ws().document.doc().global().tempo, 96);
}

void RemoteControlTest::playAndStop() {
    Controller c;
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setTempo(340);
    });
    c.send(packet("/tarrowin/play"), port());
    QTRY_VERIFY(ws().playback.isPlaying());
    c.send(number("/tarrowin/tempo", 100), port());
    QTRY_VERIFY(c.answered());
    QCOMPARE(QString::fromStdString(c.receive().args), QStringLiteral("The tempo cannot change while Tarrowin plays"));
    c.send(number("/tarrowin/voice/1/on", 0), port());  // switched live, as its button does
    QTRY_VERIFY(!ws().playback.player().voiceOn(0));
    c.send(packet("/tarrowin/state"), port());
    QTRY_VERIFY(c.answered());
    QVERIFY(c.receive().args.rfind("1 current ", 0) == 0);
    c.send(packet("/tarrowin/stop"), port());
    QTRY_VERIFY(!ws().playback.isPlaying());
}

void RemoteControlTest::aFloodIsAppliedInSlices() {
    for (int i = 0; i < 10000; ++i)
        remote().queue().add({remote::Request{remote::RequestKind::Tempo, -1, remote::VoiceSetting::Param1, 20 + i % 300}, {}});
    QElapsedTimer held;
    held.start();
    remote().applyWaiting();
    // One slice holds the window's thread briefly and leaves the rest for later turns.
    QVERIFY2(held.elapsed() < 200, qPrintable(QString::number(held.elapsed())));
    QVERIFY(remote().queue().size() > 0);
    QTRY_COMPARE_WITH_TIMEOUT(remote().queue().size(), size_t(0), 60000);
    QCOMPARE(ws().document.doc().global().tempo, 20 + 9999 % 300);
}

void RemoteControlTest::dialogStoresTheSettings() {
    bool warned = false;
    whenDialogShows([&warned](QWidget* w) {
        auto* d = qobject_cast<QDialog*>(w);
        if (d == nullptr || d->windowTitle() != QLatin1String("Remote Control (OSC)")) return false;
        named<QCheckBox>(d, QStringLiteral("Listen for OSC messages"))->setChecked(true);
        named<QSpinBox>(d, QStringLiteral("UDP port"))->setValue(48123);
        named<QRadioButton>(d, QStringLiteral("From every network"))->setChecked(true);
        for (QLabel* l : d->findChildren<QLabel*>())
            warned = warned || (l->isVisible() && l->text().startsWith(QLatin1String("Anyone on these networks")));
        d->accept();
        return true;
    });
    w_->window->action(Command::RemoteControl)->trigger();
    QVERIFY(warned);
    QCOMPARE(ws().preferences.remoteControl(), (RemoteSettings{true, 48123, true, 0}));
    QCOMPARE(remote().status(), QStringLiteral("Listening on every network, port 48123"));
}

TARROWIN_QTEST_MAIN(RemoteControlTest)
#include "remote_control_test.moc"
