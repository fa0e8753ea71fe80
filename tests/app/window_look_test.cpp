// The window as a user meets it: where the tool windows open (beside the main window, inside
// the screen, where they were left), the keys a user reaches for in each window, fields wide
// enough for their longest value at any font, and the theme, with the notes' colours
// readable in it.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QtTest>

#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/progress_dialog.h"
#include "app/notes_view/notes_window.h"
#include "app/notes_view/piano_roll.h"
#include "app/notes_view/roll_painter.h"
#include "app/notes_view/notes_command.h"
#include "app/tools/composition_maker_window.h"
#include "app/tools/randomizer_dialog.h"
#include "app/tools/range_edit_dialog.h"
#include "app/tools/tool_windows.h"
#include "app/tools/voice_editor_dialog.h"
#include "app/voice_dialogs/coefficient_dialog.h"
#include "app/voice_dialogs/modulate_dialog.h"
#include "app/voice_dialogs/note_value_dialog.h"
#include "app/window_placement.h"
#include "app_test_support.h"
#include "tools/composition_randomizer.h"
#include "tools/multiple_voice_editor.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

// WCAG's contrast ratio of two colours, from their relative luminance.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QRect cursorRect(QLineEdit* edit) { return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect(); }

// Whether the edit shows `text` from its first to its last character without scrolling.
bool showsWhole(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setCursorPosition(0);
    edit->grab();  // an edit scrolls to its cursor as it paints
    const int start = cursorRect(edit).left();
    edit->setCursorPosition(static_cast<int>(text.size()));
    edit->grab();
    const bool endShows = cursorRect(edit).right() <= edit->rect().right();
    edit->setCursorPosition(0);  // not painted: measured with the scroll the end needed
    return endShows && cursorRect(edit).left() == start;
}

QLineEdit* editNamed(QWidget* root, const QString& name) {
    QLineEdit* e = named<QLineEdit>(root, name);
    if (!e) qFatal("no field %s", qPrintable(name));
    return e;
}

}  // namespace

class WindowLookTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void placesBesideTheMainWindow_data();
    void placesBesideTheMainWindow();
    void remembersWhereWindowsWereLeft();
    void keysActWhereTheUserIs();
    void fieldsShowTheirLongestValueWhole_data();
    void fieldsShowTheirLongestValueWhole();
    void themeIsAppliedAndRemembered();
    void voiceColoursStandOutFromEveryRow();
    void timeLeftIsEstimated_data();
    void timeLeftIsEstimated();
};

void WindowLookTest::placesBesideTheMainWindow_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("controls");
    QTest::addColumn<QList<QRect>>("open");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("placed");
    const QList<QRect> wide{{0, 0, 1920, 1080}};
    const QList<QRect> small{{0, 0, 1280, 1024}};
    QTest::newRow("right") << QSize(400, 300) << QSize(400, 300) << QRect(100, 100, 800, 600)
                           << QRect(100, 100, 800, 60) << QList<QRect>{} << wide << QRect(900, 100, 400, 300);
    QTest::newRow("right, slid up into the screen")
        << QSize(400, 700) << QSize(400, 700) << QRect(100, 500, 800, 500) << QRect(100, 500, 800, 60) << QList<QRect>{}
        << wide << QRect(900, 380, 400, 700);
    QTest::newRow("no room right: below")
        << QSize(400, 300) << QSize(400, 300) << QRect(400, 0, 880, 500) << QRect(400, 0, 880, 60) << QList<QRect>{}
        << small << QRect(400, 500, 400, 300);
    // Nowhere beside: the least of the main window covered, its menus and toolbar never.
    QTest::newRow("screen too small for beside")
        << QSize(365, 320) << QSize(365, 320) << QRect(200, 228, 880, 590) << QRect(200, 228, 880, 70) << QList<QRect>{}
        << small << QRect(200, 704, 365, 320);
    QTest::newRow("two screens: right, on the second")
        << QSize(365, 320) << QSize(365, 320) << QRect(200, 228, 1000, 590) << QRect(200, 228, 1000, 70)
        << QList<QRect>{} << QList<QRect>{{0, 0, 1280, 1024}, {1280, 0, 1280, 1024}} << QRect(1280, 228, 365, 320);
    QTest::newRow("under the window open right of it")
        << QSize(400, 300) << QSize(400, 300) << QRect(100, 100, 800, 600) << QRect(100, 100, 800, 60)
        << QList<QRect>{{900, 100, 400, 300}} << wide << QRect(900, 400, 400, 300);
    QTest::newRow("resizable: shortened below the controls")
        << QSize(640, 740) << QSize(320, 300) << QRect(200, 228, 880, 590) << QRect(200, 228, 880, 70) << QList<QRect>{}
        << small << QRect(640, 298, 640, 726);
    QTest::newRow("resizable: narrower to fit right of it")
        << QSize(960, 560) << QSize(640, 373) << QRect(370, 254, 715, 610) << QRect(370, 254, 715, 70)
        << QList<QRect>{} << wide << QRect(1085, 254, 835, 560);
    QTest::newRow("resizable, no room however small: the least covered at full size")
        << QSize(960, 560) << QSize(900, 373) << QRect(370, 254, 715, 610) << QRect(370, 254, 715, 70)
        << QList<QRect>{} << wide << QRect(960, 324, 960, 560);
    QTest::newRow("larger than the screen: shrunk to it")
        << QSize(960, 700) << QSize(960, 700) << QRect(0, 0, 735, 495) << QRect(0, 0, 735, 60) << QList<QRect>{}
        << QList<QRect>{{0, 0, 800, 600}} << QRect(0, 0, 800, 600);
}

void WindowLookTest::placesBesideTheMainWindow() {
    QFETCH(QSize, size);
    QFETCH(QSize, minimum);
    QFETCH(QRect, anchor);
    QFETCH(QRect, controls);
    QFETCH(QList<QRect>, open);
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, placed);
    QCOMPARE(placeBeside(size, minimum, {anchor, controls, open, screens}), placed);
}

void WindowLookTest::remembersWhereWindowsWereLeft() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect left;
    double zoom = 0;
    {
        WindowUnderTest w;
        w.window->action(Command::CompositionMaker)->trigger();
        CompositionMakerWindow* maker = w.window->tools().maker();
        QVERIFY(screen.contains(maker->frameGeometry()));
        left = QRect(screen.topLeft() + QPoint(30, 40), QSize(300, 260));
        maker->setGeometry(left);
        w.window->tools().closeCompositionMaker();
        w.window->action(Command::CompositionMaker)->trigger();
        QCOMPARE(w.window->tools().maker()->geometry(), left);
        w.window->tools().closeCompositionMaker();

        w.ws().document.edit(QStringLiteral("long"), DocumentController::Scope::Current,
                             [](CTarrowinDoc& d) { d.setEndCounter(2000); });
        w.window->action(Command::Notes)->trigger();
        NotesWindow* notes = w.window->notes().notesWindow();
        QTRY_VERIFY(notes->roll()->notes());
        notes->roll()->zoomIn();
        zoom = notes->roll()->pixelsPerTick();
        QVERIFY(!notes->roll()->fitted());
        notes->close();
    }
    // The next run: the same place and size, the same zoom.
    WindowUnderTest w;
    w.window->action(Command::CompositionMaker)->trigger();
    QCOMPARE(w.window->tools().maker()->geometry(), left);
    w.ws().document.edit(QStringLiteral("long"), DocumentController::Scope::Current,
                         [](CTarrowinDoc& d) { d.setEndCounter(2000); });
    w.window->action(Command::Notes)->trigger();
    PianoRoll* roll = w.window->notes().notesWindow()->roll();
    QTRY_VERIFY(roll->notes());
    QCOMPARE(roll->pixelsPerTick(), zoom);
    QVERIFY(!roll->fitted());
}

void WindowLookTest::keysActWhereTheUserIs() {
    WindowUnderTest w;
    MainWindow& main = *w.window;
    MessageBoxes boxes;  // "Are you sure?" before an event goes: Yes
    w.ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
        d.setEndCounter(10);
        d.addCurrentSettingsAsEvent();
        d.addCurrentSettingsAsEvent();
    });
    main.action(Command::CompositionMaker)->trigger();
    CompositionMakerWindow* maker = main.tools().maker();
    const auto notes = [&main] { return main.notes().notesWindow(); };
    const auto notesShown = [&main] { return main.action(Command::Notes)->isChecked(); };
    const auto press = [](QWidget* in, int key) {
        QApplication::setActiveWindow(in->window());
        QTest::keyClick(in, static_cast<Qt::Key>(key));
    };

    struct Case {
        const char* what;
        std::function<void()> act;
        std::function<bool()> done;
    };
    const std::vector<Case> cases = {
        {"F2 in the main window shows the notes", [&] { press(&main.view(), Qt::Key_F2); }, notesShown},
        {"F2 in the notes hides them", [&] { press(notes()->roll(), Qt::Key_F2); }, [&] { return !notesShown(); }},
        {"F2 in the Composition Maker shows them", [&] { press(maker->list(), Qt::Key_F2); }, notesShown},
        {"Escape closes the notes", [&] { press(notes()->roll(), Qt::Key_Escape); },
         [&] { return !notesShown() && !notes()->isVisible(); }},
        {"F1 in the Composition Maker opens the help", [&] { press(maker->list(), Qt::Key_F1); },
         [] { return QApplication::activeWindow() && QApplication::activeWindow()->objectName() == "HelpWindow"; }},
        {"Escape closes the help", [&] { press(QApplication::activeWindow(), Qt::Key_Escape); },
         [] { return !QApplication::activeWindow() || QApplication::activeWindow()->objectName() != "HelpWindow"; }},
        {"Delete in the events list removes the chosen one",
         [&] {
             maker->selectRow(1);
             press(maker->list(), Qt::Key_Delete);
         },
         [&] { return w.ws().document.doc().composition().count() == 1; }},
    };
    for (const Case& c : cases) {
        c.act();
        QVERIFY2(QTest::qWaitFor(c.done, 2000), c.what);
    }
}

void WindowLookTest::fieldsShowTheirLongestValueWhole_data() {
    QTest::addColumn<QFont>("font");
    QTest::newRow("the desktop's font") << QApplication::font();
    QTest::newRow("large and bold") << QFont(QStringLiteral("DejaVu Sans"), 16, QFont::Bold);
    QTest::newRow("wide, fixed pitch") << QFont(QStringLiteral("DejaVu Sans Mono"), 13);
}

void WindowLookTest::fieldsShowTheirLongestValueWhole() {
    QFETCH(QFont, font);
    WindowUnderTest w;
    CompositionRandomizer randomizerMembers;
    MultipleVoiceEditor editorMembers;
    RandomizerDialog randomizer(
        w.ws(), randomizerMembers, [] {}, nullptr);
    VoiceEditorDialog editor(w.ws(), editorMembers, nullptr);
    ModulateDialog modulate(QStringLiteral("Modulate"), nullptr);
    NoteValueDialog noteValue(QStringLiteral("Other value"), nullptr);
    RangeEditDialog range(RangePicker::param2Range(1, 100), w.ws().prompter, nullptr);
    LorenzDialog lorenz(QStringLiteral("Lorenz"), 0.5f, nullptr);
    for (QWidget* d : std::initializer_list<QWidget*>{&randomizer, &editor, &modulate, &noteValue, &range, &lorenz})
        d->show();
    const QFont before = QApplication::font();
    QApplication::setFont(font);  // after the windows were made, as a desktop changes it
    QCoreApplication::processEvents();

    QWidget* form = &w.window->view();
    const std::vector<std::tuple<QWidget*, const char*, QString>> fields = {
        {form, "Param1 voice 16", QString::number(kParam1Range.max)},
        {form, "Param2 voice 16", QStringLiteral("999999937")},
        {form, "Param2 voice 1", QString::number(kParam2Range.max)},
        {form, "Offset voice 1", QString::number(kOffsetRange.min)},
        {form, "End", QString::number(kMaxCounter)},
        {&editor, "Param2", QString::number(kParam2Range.max)},
        {&randomizer, "Number of events", QStringLiteral("2147483647")},
        {&randomizer, "Min", QStringLiteral("-2147483648")},
        {&modulate, "Every", QStringLiteral("50")},
        {&noteValue, "Enter note value  (1 = thirtysecond)", QStringLiteral("960")},
        {&range, "From", QStringLiteral("-2147483648")},
        {&lorenz, "Enter coefficient", QStringLiteral("-1.17549435e-38")},
    };
    for (const auto& [root, name, text] : fields)
        QVERIFY2(showsWhole(editNamed(root, QString::fromLatin1(name)), text), name);
    QApplication::setFont(before);
}

void WindowLookTest::themeIsAppliedAndRemembered() {
    const QPalette startPalette = QApplication::palette();
    {
        WindowUnderTest w;
        QVERIFY(w.window->themeAction(Theme::System)->isChecked());
        w.window->themeAction(Theme::Dark)->trigger();
        QCOMPARE(QApplication::style()->name(), QStringLiteral("fusion"));
        QVERIFY(RollColours::darkPalette(QApplication::palette()));
        w.window->action(Command::Notes)->trigger();
        QVERIFY(w.window->notes().notesWindow()->roll()->frame().dark);
        QCOMPARE(w.ws().preferences.theme(), QStringLiteral("Dark"));
    }
    {
        // The next run starts dark; Light is Fusion's own light palette.
        WindowUnderTest w;
        QVERIFY(w.window->themeAction(Theme::Dark)->isChecked());
        QVERIFY(RollColours::darkPalette(QApplication::palette()));
        w.window->themeAction(Theme::Light)->trigger();
        QVERIFY(!RollColours::darkPalette(QApplication::palette()));
        QCOMPARE(QApplication::palette(), QApplication::style()->standardPalette());
        w.window->themeAction(Theme::System)->trigger();
        QCOMPARE(QApplication::palette(), startPalette);
        QCOMPARE(w.ws().preferences.theme(), QStringLiteral("System"));
    }
}

void WindowLookTest::voiceColoursStandOutFromEveryRow() {
    // Note bars against every key row behind them: at least 3:1, in both themes.
    for (const RollColours* c : {&RollColours::light(), &RollColours::dark()}) {
        const bool dark = c == &RollColours::dark();
        for (int v = 0; v < kVoices; ++v) {
            for (const QColor& row : {c->keyRow, c->blackKeyRow, c->middleCRow}) {
                const double ratio = contrast(voiceColour(v, dark), row);
                QVERIFY2(ratio >= 3.0, qPrintable(QStringLiteral("%1 voice %2 on %3: %4:1")
                                                      .arg(dark ? "dark" : "light")
                                                      .arg(v + 1)
                                                      .arg(row.name())
                                                      .arg(ratio, 0, 'f', 2)));
            }
        }
    }
}

void WindowLookTest::timeLeftIsEstimated_data() {
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<double>("done");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing done yet") << qint64(0) << 0.0 << QStringLiteral("Estimating the time left...");
    QTest::newRow("too little done") << qint64(5000) << 0.01 << QStringLiteral("Estimating the time left...");
    QTest::newRow("too soon") << qint64(900) << 0.5 << QStringLiteral("Estimating the time left...");
    QTest::newRow("half") << qint64(2000) << 0.5 << QStringLiteral("About 2 s left");
    QTest::newRow("minutes") << qint64(10000) << 0.1 << QStringLiteral("About 1 min 30 s left");
    QTest::newRow("almost done") << qint64(1000) << 0.999 << QStringLiteral("About 1 s left");
    QTest::newRow("done") << qint64(3000) << 1.0 << QStringLiteral("Finishing...");
}

void WindowLookTest::timeLeftIsEstimated() {
    QFETCH(qint64, elapsedMs);
    QFETCH(double, done);
    QFETCH(QString, text);
    QCOMPARE(timeLeftText(elapsedMs, done), text);
}

TARROWIN_QTEST_MAIN(WindowLookTest)
#include "window_look_test.moc"
