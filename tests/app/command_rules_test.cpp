// What the menus enable and check: every command of the menus in every state the rules
// read, against the rules as a user meets them, one line per condition of the window; and
// the real window, through the states a session goes through, showing each item of its
// menus as the rules say for the state it is in. And every command that edits the
// composition leaves the document modified at once, so that closing asks to save it
// (loading an event only copies it into the current settings, and leaves the flag alone).
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <set>

#include "app/command_state.h"
#include "app/command_table.h"
#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/tools/composition_maker_window.h"
#include "app/reports/report_windows.h"
#include "app/tools/tool_windows.h"
#include "app_test_support.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

using C = Command;

// What each condition of the window turns off.
struct Condition {
    bool UiState::*flag;
    bool when;  // the flag's value that disables
    std::set<Command> commands;
};
const std::set<Command> kLiveWhilePlaying = {C::Stop,    C::UpdateWhilePlaying, C::CompositionInfo, C::Calculator, C::Toolbar,
                                             C::StatusBar, C::Notes,            C::HelpTopics,      C::WhatsThis,  C::About,
                                             C::RemoteControl, C::RecordPerformance, C::EditWhilePlaying};
const std::vector<Condition> kConditions = {
    {&UiState::coolingDown, true, {C::Play}},
    {&UiState::eventsExist, false, {C::Composition, C::UpdateWhilePlaying, C::ReplaceEvent, C::CompositionInfo, C::CreateImage}},
    {&UiState::compositionMode, false, {C::UpdateWhilePlaying}},
    {&UiState::canUndo, false, {C::Undo}},
    {&UiState::canRedo, false, {C::Redo}},
    {&UiState::makerOpen, true, {C::CompositionMaker}},
    {&UiState::infoOpen, true, {C::CompositionInfo}},
    {&UiState::imageOpen, true, {C::CreateImage}},
    {&UiState::sessionManaged, true, {C::New, C::Open, C::SaveAs}},
};
// The checked commands and the flag each one shows.
const std::vector<std::pair<Command, std::function<bool(const UiState&)>>> kChecks = {
    {C::CurrentSettings, [](const UiState& s) { return !s.compositionMode; }},
    {C::Composition, [](const UiState& s) { return s.compositionMode; }},
    {C::UpdateWhilePlaying, [](const UiState& s) { return s.updateWhilePlaying; }},
    {C::Toolbar, [](const UiState& s) { return s.toolbarShown; }},
    {C::StatusBar, [](const UiState& s) { return s.statusBarShown; }},
    {C::Notes, [](const UiState& s) { return s.notesShown; }},
    {C::SyncInternal, [](const UiState& s) { return s.sync == SyncMode::Internal; }},
    {C::SyncFollowJack, [](const UiState& s) { return s.sync == SyncMode::FollowJack; }},
    {C::SyncJackMaster, [](const UiState& s) { return s.sync == SyncMode::JackMaster; }},
    {C::SyncMidiClock, [](const UiState& s) { return s.sync == SyncMode::MidiClock; }},
    {C::SendMidiClock, [](const UiState& s) { return s.sendMidiClock; }},
    {C::EditWhilePlaying, [](const UiState& s) { return s.editWhilePlaying; }},
    {C::RecordPerformance, [](const UiState& s) { return s.recording; }},
};

CommandState expected(Command c, const UiState& s) {
    CommandState e{!s.playing || kLiveWhilePlaying.count(c) > 0, false};
    for (const Condition& k : kConditions) {
        if (s.*k.flag == k.when && k.commands.count(c)) e.enabled = false;
    }
    for (const auto& [command, shown] : kChecks) {
        if (command == c) e.checked = shown(s);
    }
    return e;
}

const bool UiState::*const kFlags[] = {
    &UiState::playing,     &UiState::auditioning, &UiState::compositionRunning, &UiState::locked,
    &UiState::coolingDown, &UiState::compositionMode, &UiState::updateWhilePlaying, &UiState::eventsExist,
    &UiState::canUndo,     &UiState::canRedo,     &UiState::makerOpen,          &UiState::infoOpen,
    &UiState::imageOpen,   &UiState::toolbarShown, &UiState::statusBarShown,    &UiState::notesShown,
    &UiState::sessionManaged, &UiState::editWhilePlaying, &UiState::recording,
};

QString describe(Command c, const UiState& s) {
    QString text = QString::fromLatin1(commandInfo(c).caption).remove(QLatin1Char('&')) + QStringLiteral(" in");
    for (size_t i = 0; i < std::size(kFlags); ++i) text += QStringLiteral(" %1").arg(int(s.*kFlags[i]));
    return text;
}

}  // namespace

class CommandRulesTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void everyMenuCommandInEveryState();
    void theWindowShowsTheRulesOfEachStateItReaches();
    void eachCompositionCommandLeavesTheDocumentModified();
};

void CommandRulesTest::everyMenuCommandInEveryState() {
    std::set<Command> inMenus;
    for (const MenuLayout& menu : menuLayout()) {
        for (Command c : menu.items) {
            if (c != kSeparator) inMenus.insert(c);
        }
    }
    QCOMPARE(inMenus.size(), kCommands);  // every command has its menu item
    int mismatches = 0;
    for (unsigned bits = 0; bits < (1u << std::size(kFlags)); ++bits) {
        UiState s;
        for (size_t i = 0; i < std::size(kFlags); ++i) const_cast<bool&>(s.*kFlags[i]) = (bits >> i) & 1u;
        for (Command c : inMenus) {
            const CommandState got = commandState(c, s), want = expected(c, s);
            if (got != want && ++mismatches <= 5) {
                qWarning() << describe(c, s) << "enabled" << got.enabled << "checked" << got.checked << "instead of"
                           << want.enabled << want.checked;
            }
        }
    }
    QCOMPARE(mismatches, 0);
}

void CommandRulesTest::theWindowShowsTheRulesOfEachStateItReaches() {
    WindowUnderTest w;
    MainWindow& window = *w.window;
    Workspace& ws = w.ws();
    std::set<QAction*> menuItems;
    const std::function<void(QMenu*)> collect = [&](QMenu* menu) {  // submenus (Sync) too
        for (QAction* item : menu->actions()) {
            if (item->menu()) collect(item->menu());
            else menuItems.insert(item);
        }
    };
    for (QAction* menu : window.menuBar()->actions()) collect(menu->menu());
    // Every item of every menu shows what the rules say for the state the window is in,
    // once the change of state has reached the window: the first item that does not.
    const auto mismatch = [&](const char* step) -> QString {
        const UiState s = window.uiState();
        int seen = 0;
        for (size_t i = 0; i < kCommands; ++i) {
            const auto c = static_cast<Command>(i);
            QAction* item = window.action(c);
            if (!menuItems.count(item)) continue;
            ++seen;
            const CommandState want = commandState(c, s);
            if (item->isEnabled() != want.enabled || (item->isCheckable() && item->isChecked() != want.checked))
                return QStringLiteral("%1: %2").arg(QLatin1String(step), describe(c, s));
        }
        return seen == int(kCommands) ? QString() : QStringLiteral("%1 commands in the menus").arg(seen);
    };
#define check(step) QTRY_COMPARE_WITH_TIMEOUT(mismatch(step), QString(), 5000)
    const auto edit = [&](const std::function<void(CTarrowinDoc&)>& fn) {
        ws.document.edit(QStringLiteral("step"), DocumentController::Scope::Composition, fn);
    };

    check("a new document");
    edit([](CTarrowinDoc& d) {
        d.setTempo(20);
        d.setEndCounter(kMaxCounter);
        d.addCurrentSettingsAsEvent();
    });
    check("an event added");
    QVERIFY(window.uiState().eventsExist && window.uiState().canUndo);
    window.action(C::Composition)->trigger();
    window.action(C::UpdateWhilePlaying)->trigger();
    QVERIFY(window.uiState().compositionMode && window.uiState().updateWhilePlaying);
    check("composition mode");
    window.action(C::CompositionMaker)->trigger();
    window.action(C::CompositionInfo)->trigger();
    window.action(C::CreateImage)->trigger();
    QTRY_VERIFY(window.uiState().makerOpen && window.uiState().infoOpen && window.uiState().imageOpen);
    check("the tool windows open");
    window.play();
    QTRY_VERIFY(window.uiState().playing);
    check("playing the composition");
    window.stop();
    QTRY_VERIFY(!window.uiState().playing);
    check("stopped");
    QTRY_VERIFY(!window.uiState().coolingDown);
    check("cooled down");
    while (window.uiState().eventsExist) ws.document.undo();
    QVERIFY(window.uiState().canRedo);
    check("the event undone");
    window.action(C::Toolbar)->trigger();
    window.action(C::StatusBar)->trigger();
    window.action(C::Notes)->trigger();
    check("the bars hidden, the notes shown");
#undef check
}

void CommandRulesTest::eachCompositionCommandLeavesTheDocumentModified() {
    WindowUnderTest w;
    MainWindow& window = *w.window;
    Workspace& ws = w.ws();
    QTemporaryDir dir;
    const auto maker = [&]() -> CompositionMakerWindow& {
        if (!window.tools().isMakerOpen()) window.action(C::CompositionMaker)->trigger();
        return *window.tools().maker();
    };
    // Three saved events at tempo 120, the form at 90 with counters of its own, event 1
    // chosen in the Maker.
    const auto savedComposition = [&] {
        ws.document.newDocument();
        ws.document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
            d.setEndCounter(8);
            for (int i = 0; i < 3; ++i) d.addCurrentSettingsAsEvent();
            d.setTempo(90);
            d.setStartCounter(2);
        });
        QVERIFY(ws.document.save(dir.filePath(QStringLiteral("song.trw"))).ok);
        QVERIFY(!ws.document.isModified() && !window.isWindowModified());
        maker().list()->setCurrentRow(1);
    };
    std::vector<std::pair<QString, std::function<void()>>> commands;
    // Every button of the Maker but those that play or close it.
    for (QPushButton* b : maker().findChildren<QPushButton*>()) {
        const QString text = b->text().remove(QLatin1Char('&'));
        if (text == QStringLiteral("Play") || text == QStringLiteral("Stop") || text == QStringLiteral("Close")) continue;
        commands.push_back({QStringLiteral("Maker's ") + text, [&maker, text] { named<QPushButton>(&maker(), text)->click(); }});
    }
    QCOMPARE(commands.size(), size_t(4));  // Add, Insert, Remove, Clear
    commands.push_back({QStringLiteral("Replace Event"), [&] { window.action(C::ReplaceEvent)->trigger(); }});
    commands.push_back({QStringLiteral("Global Tempo"),
                        [&] { named<QPushButton>(&window, QStringLiteral("Global Tempo"))->click(); }});
    for (const auto& [name, run] : commands) {
        savedComposition();
        MessageBoxes boxes;
        boxes.answer(QMessageBox::Yes);
        run();
        QVERIFY2(ws.document.undoName() != QStringLiteral("setup"), qPrintable(name + QStringLiteral(" did nothing")));
        QVERIFY2(ws.document.isModified(), qPrintable(name));
        QVERIFY2(window.isWindowModified(), qPrintable(name));
    }
}

TARROWIN_QTEST_MAIN(CommandRulesTest)
#include "command_rules_test.moc"
