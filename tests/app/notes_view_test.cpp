// The "Notes" window: shown and hidden by its command, zoom by keys and wheel, the legend's
// voices hidden and shown, the text of the note under the pointer, the notes following an
// edit, the playhead during a play on a fake clock (also one that runs on past End), and the
// view saved as PNG and SVG.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/notes_view/notes_window.h"
#include "app/notes_view/piano_roll.h"
#include "app/notes_view/notes_command.h"
#include "app/notes_view/voice_legend.h"
#include "app_test_support.h"
#include "playback/fake_clock.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

class NotesViewTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() {
        clock_ = std::make_unique<tarrowin::testing::FakeClock>();
        w_ = std::make_unique<WindowUnderTest>(*clock_);
        setCounters(0, 64);
    }
    void cleanup() {
        ws().playback.stop();
        clock_->runFree();
        w_.reset();
    }

    void commandShowsTheWindowAndClosingUnchecksIt();
    void zoomsByKeysAndWheelAndFits();
    void hoverNamesTheNoteAndTheLegendHidesAVoice();
    void followsEditsAndThePlayMode();
    void playheadFollowsThePlayOnAFakeClock();
    void playheadFollowsAnUnlockedPlayPastEnd_data();
    void playheadFollowsAnUnlockedPlayPastEnd();
    void savesThePictureAsPngAndSvg();
    void saveImageFollowsTheOutputRules_data();
    void saveImageFollowsTheOutputRules();

   private:
    Workspace& ws() { return w_->ws(); }
    void setCounters(int32_t start, int32_t end) {
        ws().document.edit(QStringLiteral("counters"), DocumentController::Scope::Current, [=](CTarrowinDoc& d) {
            d.setStartCounter(start);
            d.setEndCounter(end);
        });
    }
    // Opens the window and waits for the notes of the document as it is now.
    NotesWindow* openNotes() {
        w_->window->action(Command::Notes)->trigger();
        NotesWindow* w = w_->window->notes().notesWindow();
        if (!w) return nullptr;
        waitForNotes(w);
        return w;
    }
    static void waitForNotes(NotesWindow* w) { QTRY_VERIFY(w->roll()->notes() && !w->computing()); }
    // The centre of a note in the viewport's coordinates.
    static QPoint centreOf(const PianoRoll* roll, const RollNote& n) {
        const RollFrame f = roll->frame();
        const QRect area = RollFrame::noteArea(roll->viewport()->rect());
        return {static_cast<int>(f.xOf(area, (n.start + n.end) / 2.0)), f.yOfKey(area, n.key) + f.keyHeight / 2};
    }
    // Whether a note is drawn as sounding at the playhead: with a black rim around it.
    static bool highlighted(const PianoRoll* roll, const RollNote& n) {
        const RollFrame f = roll->frame();
        const QRect area = RollFrame::noteArea(roll->viewport()->rect());
        const QImage shot = roll->viewport()->grab().toImage();
        // The rim's top left corner, which the playhead, at or after the note's start, never covers.
        const int x0 = static_cast<int>(std::floor(f.xOf(area, n.start)));
        return shot.pixelColor(std::max(area.left(), x0 - 2), f.yOfKey(area, n.key) - 2) == QColor(Qt::black);
    }
    // Lets the play run until `date` sounds (the position is the next tick to play).
    void playUntil(int date) { clock_->stepTicks(date - static_cast<int>(ws().playback.position()) + 1); }

    std::unique_ptr<tarrowin::testing::FakeClock> clock_;
    std::unique_ptr<WindowUnderTest> w_;
};

void NotesViewTest::commandShowsTheWindowAndClosingUnchecksIt() {
    QAction* notes = w_->window->action(Command::Notes);
    QCOMPARE(notes->shortcut(), QKeySequence(Qt::Key_F2));
    NotesWindow* w = openNotes();
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Notes"));
    QVERIFY(notes->isChecked());
    QCOMPARE(w->summary(), QStringLiteral("Current Settings, counters 0 to 64: 6 notes"));
    w->close();
    QVERIFY(!notes->isChecked());
    QVERIFY(!w_->window->notes().notesShown());
    notes->trigger();
    QVERIFY(w->isVisible() && notes->isChecked());
    notes->trigger();
    QVERIFY(!w->isVisible());
}

void NotesViewTest::zoomsByKeysAndWheelAndFits() {
    NotesWindow* w = openNotes();
    PianoRoll* roll = w->roll();
    const QRect area = RollFrame::noteArea(roll->viewport()->rect());
    const double fitted = area.width() / 64.0;
    QCOMPARE(roll->pixelsPerTick(), fitted);
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(w, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(roll->pixelsPerTick(), std::min(fitted * PianoRoll::kZoomStep, PianoRoll::kMaxPixelsPerTick));
    QTest::keyClick(w, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(roll->pixelsPerTick(), fitted);
    QTest::keyClick(w, Qt::Key_Minus, Qt::ControlModifier);  // never below the whole piece
    QCOMPARE(roll->pixelsPerTick(), fitted);

    // Ctrl+wheel zooms around the pointer: the tick under it stays there.
    setCounters(0, 4000);
    waitForNotes(w);
    const int x = area.left() + area.width() / 3;
    const double before = roll->frame().dateAt(area, x);
    QWheelEvent wheel(QPointF(x, area.center().y()), roll->viewport()->mapToGlobal(QPointF(x, area.center().y())),
                      QPoint(), QPoint(0, 240), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(roll->viewport(), &wheel);
    QCOMPARE(roll->pixelsPerTick(), area.width() / 4000.0 * PianoRoll::kZoomStep * PianoRoll::kZoomStep);
    QVERIFY(std::abs(roll->frame().dateAt(area, x) - before) < 1.0);
    QVERIFY(roll->horizontalScrollBar()->maximum() > 0);
    QTest::keyClick(w, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(roll->pixelsPerTick(), area.width() / 4000.0);
    QCOMPARE(roll->horizontalScrollBar()->maximum(), 0);
}

void NotesViewTest::hoverNamesTheNoteAndTheLegendHidesAVoice() {
    NotesWindow* w = openNotes();
    PianoRoll* roll = w->roll();
    const RollNote first = roll->notes()->voices[0].front();
    const QPoint at = centreOf(roll, first);
    QMouseEvent move(QEvent::MouseMove, at, roll->viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(roll->viewport(), &move);
    QCOMPARE(roll->hoverText(), QStringLiteral("Voice 1: C5 (key 60), counter 0, step 0"));
    const QList<QLabel*> labels = w->findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) {
        return l->accessibleDescription() == QStringLiteral("Note under the pointer") && l->text() == roll->hoverText();
    }));

    const auto colourAt = [roll](QPoint p) { return roll->viewport()->grab().toImage().pixelColor(p); };
    QCOMPARE(colourAt(at), voiceColour(0));
    QCheckBox* voice1 = w->legend()->box(0);
    QCOMPARE(voice1->accessibleDescription(), QStringLiteral("Show voice 1"));
    voice1->toggle();  // as a screen reader's Toggle does, without a click
    QVERIFY(!roll->isShown(0));
    QVERIFY(roll->textAt(at).isEmpty() || !roll->textAt(at).startsWith(QStringLiteral("Voice 1:")));
    QVERIFY(colourAt(at) != voiceColour(0));
    voice1->toggle();
    QCOMPARE(roll->textAt(at), QStringLiteral("Voice 1: C5 (key 60), counter 0, step 0"));

    // A voice that is off is drawn faint, under the voices that are on, and said to be off.
    QCOMPARE(colourAt(at), voiceColour(0));
    ws().document.edit(QStringLiteral("note"), DocumentController::Scope::Current,
                       [](CTarrowinDoc& d) { d.setStartNote(2, 48); });
    waitForNotes(w);
    const RollNote off = roll->notes()->voices[2].front();
    QVERIFY(off.off);
    const QColor faint = colourAt(centreOf(roll, off));
    QVERIFY(faint != voiceColour(2) && faint.lightness() > voiceColour(2).lightness());
    QVERIFY(roll->textAt(centreOf(roll, off)).endsWith(QStringLiteral("(voice off)")));
}

void NotesViewTest::followsEditsAndThePlayMode() {
    NotesWindow* w = openNotes();
    QCOMPARE(w->roll()->notes()->length, 64);
    // An edit, its undo and the play mode each bring new notes.
    setCounters(8, 40);
    waitForNotes(w);
    QCOMPARE(w->roll()->notes()->length, 32);
    ws().document.undo();
    waitForNotes(w);
    QCOMPARE(w->roll()->notes()->length, 64);
    ws().document.change(QStringLiteral("Add"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) {
        return !d.addCurrentSettingsAsEvent() && !d.addCurrentSettingsAsEvent();
    });
    ws().playback.setPlayMode(PlayMode::Composition);
    waitForNotes(w);
    QCOMPARE(w->roll()->notes()->mode, RollMode::Composition);
    QCOMPARE(w->roll()->notes()->length, 128);
    QCOMPARE(w->summary(), QStringLiteral("Composition, 2 events, 128 ticks: 12 notes"));
    // The percussion channel moves the drum voices onto their keys.
    ws().playback.output().setPercussionChannel(0);
    w_->window->stabilize();
    waitForNotes(w);
    QCOMPARE(w->roll()->notes()->voices[0].front().key, 35);
}

void NotesViewTest::playheadFollowsThePlayOnAFakeClock() {
    setCounters(0, 400);
    ws().playback.setLocked(true);
    NotesWindow* w = openNotes();
    PianoRoll* roll = w->roll();
    for (int i = 0; i < 12; ++i) roll->zoomIn();  // far fewer than 400 ticks in sight
    const QRect area = RollFrame::noteArea(roll->viewport()->rect());
    w_->window->play();
    QVERIFY(ws().playback.isPlaying());
    clock_->waitForSleepers();
    for (int ticks : {10, 150, 300}) {
        playUntil(ticks);
        w->followPlayhead();
        QCOMPARE(roll->playDate(), std::optional<int32_t>(ticks));
        const double x = roll->frame().xOf(area, ticks);
        QVERIFY2(x >= area.left() && x <= area.right(), qPrintable(QString::number(x)));
    }
    // The notes that sound at the playhead are highlighted: black rim around the note.
    const RollNote* sounding = roll->notes()->noteAt(0, 300);
    QVERIFY(sounding && highlighted(roll, *sounding));
    w_->window->stop();
    clock_->runFree();
    QTRY_VERIFY(!ws().playback.isPlaying());
    w->followPlayhead();
    QCOMPARE(roll->playDate(), std::nullopt);
}

void NotesViewTest::playheadFollowsAnUnlockedPlayPastEnd_data() {
    QTest::addColumn<int>("end");
    QTest::newRow("End 64") << 64;
    QTest::newRow("a new document, End 0") << 0;
}

void NotesViewTest::playheadFollowsAnUnlockedPlayPastEnd() {
    QFETCH(int, end);
    setCounters(0, end);  // Lock is off: the play runs on until Stop
    NotesWindow* w = openNotes();
    PianoRoll* roll = w->roll();
    for (int i = 0; i < 12; ++i) roll->zoomIn();
    const QRect area = RollFrame::noteArea(roll->viewport()->rect());
    w_->window->play();
    clock_->waitForSleepers();
    for (int ticks : {end + 100, end + 900}) {
        playUntil(ticks);
        w->followPlayhead();  // the play has gone past the notes shown: more are computed
        waitForNotes(w);
        w->followPlayhead();
        QCOMPARE(roll->playDate(), std::optional<int32_t>(ticks));
        const double x = roll->frame().xOf(area, ticks);
        QVERIFY2(x >= area.left() && x <= area.right(), qPrintable(QString::number(x)));
        const RollNote* sounding = roll->notes()->noteAt(0, ticks);
        QVERIFY(sounding && highlighted(roll, *sounding));
    }
    QVERIFY2(!w->summary().contains(QStringLiteral("not above")), qPrintable(w->summary()));
    // When the play ends, the view shows the document's Start to End again, End where the play stopped.
    w_->window->stop();
    clock_->runFree();
    QTRY_VERIFY(!ws().playback.isPlaying());
    QTRY_COMPARE(ws().document.doc().global().endCounter, end + 901);
    waitForNotes(w);
    QCOMPARE(roll->notes()->length, end + 901);
    QCOMPARE(roll->playDate(), std::nullopt);
}

void NotesViewTest::savesThePictureAsPngAndSvg() {
    NotesWindow* w = openNotes();
    QTemporaryDir dir;
    QString error;
    const QString png = dir.filePath(QStringLiteral("notes.png"));
    const QString svg = dir.filePath(QStringLiteral("notes.svg"));
    QVERIFY(w->roll()->saveImage(png, &error));
    QVERIFY(w->roll()->saveImage(svg, &error));
    QCOMPARE(QImage(png).size(), w->roll()->viewport()->size());
    QFile file(svg);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("<svg") && text.contains("</svg>") && text.contains("C5"));
    // A folder that cannot be written gives the reason and leaves nothing behind.
    QVERIFY(!w->roll()->saveImage(dir.filePath(QStringLiteral("missing/notes.png")), &error));
    QVERIFY(!error.isEmpty());
}

void NotesViewTest::saveImageFollowsTheOutputRules_data() {
    QTest::addColumn<QString>("typed");   // the name typed in the save dialog
    QTest::addColumn<bool>("pipe");       // pic.png is a pipe that a program reads, else a file
    QTest::addColumn<bool>("replace");    // the answer to "pic.png already exists"
    QTest::newRow("suffix added before the question, No") << "pic" << false << false;
    QTest::newRow("suffix added before the question, Yes") << "pic" << false << true;
    QTest::newRow("a pipe is written into") << "pic.png" << true << true;
}

void NotesViewTest::saveImageFollowsTheOutputRules() {
    QFETCH(QString, typed);
    QFETCH(bool, pipe);
    QFETCH(bool, replace);
    NotesWindow* w = openNotes();
    QTemporaryDir dir;
    const QString pic = dir.filePath(QStringLiteral("pic.png"));
    const QByteArray name = QFile::encodeName(pic);
    const QByteArray older("an older file");
    int reader = -1;
    if (pipe) {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0 && ::fcntl(reader, F_SETPIPE_SZ, 1 << 20) > 0);  // room for the whole picture
    } else {
        QFile f(pic);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(older) == older.size());
    }
    MessageBoxes boxes;
    boxes.answer(replace ? QMessageBox::Yes : QMessageBox::No);
    whenDialogShows([&](QWidget* d) {
        auto* dialog = qobject_cast<QFileDialog*>(d);
        if (!dialog) return false;
        dialog->selectFile(dir.filePath(typed));
        QTimer::singleShot(0, dialog, [dialog] {
            QMetaObject::invokeMethod(dialog, "accept");
            if (dialog->isVisible()) dialog->reject();  // the replace question was answered No
        });
        return true;
    });
    w->saveImage();
    QCOMPARE(boxes.seen().size(), size_t{1});
    QCOMPARE(boxes.seen()[0].text, QStringLiteral("pic.png already exists.\nDo you want to replace it?"));
    QByteArray now(1 << 20, '\0');
    if (pipe) {
        struct stat st {};
        QVERIFY(::stat(name.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        now.resize(std::max<ssize_t>(0, ::read(reader, now.data(), size_t(now.size()))));
        ::close(reader);
    } else {
        QFile f(pic);
        QVERIFY(f.open(QIODevice::ReadOnly));
        now = f.readAll();
    }
    QCOMPARE(now.startsWith("\x89PNG"), replace);
    QCOMPARE(now == older, !replace);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("pic"))));
}

TARROWIN_QTEST_MAIN(NotesViewTest)
#include "notes_view_test.moc"
