// The report windows: Composition Information with the core's rows, its selection, Update,
// copying and its life beside the menus; the image window's picture, size and PNG file;
// Current note's commit of the form and its labels.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "app/file_commands.h"
#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/progress_dialog.h"
#include "app/reports/composition_info_window.h"
#include "app/reports/current_note_dialog.h"
#include "app/reports/image_window.h"
#include "app/reports/report_list.h"
#include "app/reports/report_windows.h"
#include "app_test_support.h"
#include "document/document_file.h"
#include "reports/composition_image.h"
#include "reports/composition_info.h"
#include "reports/current_note.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

using Scope = DocumentController::Scope;

QStringList rowsOf(const std::vector<std::string>& rows) {
    QStringList out;
    for (const std::string& r : rows) out << QString::fromStdString(r);
    return out;
}

// Three events that differ in their voices, algorithms, scales and modulation.
void makeComposition(CTarrowinDoc& d) {
    d.setEndCounter(1536);
    d.addCurrentSettingsAsEvent();
    d.setEnabled(2, true);
    d.setAlgorithm(2, Algorithm::Henon);
    d.setScaleIndex(2, 6);
    d.setModulate(2, true);
    d.setModulation(2, 1, 4);
    d.setStartCounter(100);
    d.setEndCounter(400);
    d.addCurrentSettingsAsEvent();
    d.setEnabled(0, false);
    d.setNoteValue(2, 11, 5.0f);
    d.addCurrentSettingsAsEvent();
}

QImage expectedPicture(ImageSums sums) {
    const CompositionImage pixels(sums);
    constexpr int n = CompositionImage::kSize;
    return QImage(pixels.rgb().data(), n, n, n * 3, QImage::Format_RGB888).copy();
}

}  // namespace

class ReportWindowsTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void informationShowsTheCoreRowsUntilUpdate();
    void informationWindowLifecycle();
    void copyTakesTheSelectedRows();
    void imageShowsTheWholePictureAndSavesIt();
    void longImageShowsProgressAndCancelOpensNothing();
    void currentNoteMarksTheDocumentAndShowsTheCoreLabels();
    void currentNoteTakesTypedValuesAndStopsOnARefusal();

   private:
    Workspace& ws() { return w_->ws(); }
    ReportWindows& reports() { return w_->window->reports(); }
    QAction* action(Command c) { return w_->window->action(c); }
    CompositionInfoWindow* openInfo() {
        action(Command::CompositionInfo)->trigger();
        return reports().infoWindow();
    }
    std::unique_ptr<WindowUnderTest> w_;
};

void ReportWindowsTest::informationShowsTheCoreRowsUntilUpdate() {
    QVERIFY(!action(Command::CompositionInfo)->isEnabled());  // no events yet
    ws().document.edit(QStringLiteral("setup"), Scope::Composition, makeComposition);
    CompositionInfoWindow* info = openInfo();
    QVERIFY(info && info->isVisible());
    QCOMPARE(info->windowTitle(), QStringLiteral("Composition Information"));
    const Composition& c = ws().document.doc().composition();
    QCOMPARE(info->globalList()->rows(), rowsOf(globalReport(c, lastReadFileVersion())));
    QCOMPARE(info->eventList()->rows(), rowsOf(eventReport(c, 0)));
    QCOMPARE(info->eventsList()->count(), 3);
    QVERIFY(info->globalList()->isEnabled());

    info->eventsList()->setCurrentRow(2);
    QCOMPARE(info->eventList()->rows(), rowsOf(eventReport(c, 2)));

    // Every label ends left of the value column: "\tLog Map:\t\t" and "\tMorse-Thue:\t" meet there.
    const QFontMetrics fm(info->globalList()->font());
    for (const char* label : {"Morse-Thue:", "Henon:", "Major:", "Dorian:", "MODULATIONS:"})
        QVERIFY(fm.horizontalAdvance(QLatin1String(label)) < info->globalList()->valueColumn());

    // A change to the composition shows only after Update.
    const QStringList before = info->globalList()->rows();
    ws().document.edit(QStringLiteral("add"), Scope::Composition, [](CTarrowinDoc& d) { d.addCurrentSettingsAsEvent(); });
    QCOMPARE(info->globalList()->rows(), before);
    QTest::mouseClick(info->updateButton(), Qt::LeftButton);
    QCOMPARE(info->eventsList()->count(), 4);
    QCOMPARE(info->globalList()->rows(), rowsOf(globalReport(c, lastReadFileVersion())));
    QCOMPARE(info->eventList()->rows(), rowsOf(eventReport(c, 0)));

    // Update on a composition emptied under the window leaves the lists empty and disabled.
    ws().document.edit(QStringLiteral("clear"), Scope::Composition, [](CTarrowinDoc& d) { d.mutableComposition().clear(); });
    QTest::mouseClick(info->updateButton(), Qt::LeftButton);
    QCOMPARE(info->globalList()->count(), 0);
    QCOMPARE(info->eventsList()->count(), 0);
    QVERIFY(!info->eventList()->isEnabled());
}

void ReportWindowsTest::informationWindowLifecycle() {
    // The file version row keeps the version of the file read last, even after New.
    QTemporaryDir dir;
    CTarrowinDoc saved;
    saved.OnNewDocument();
    makeComposition(saved);
    const QString song = dir.filePath(QStringLiteral("song.trw"));
    QVERIFY(saveDocumentFile(song.toStdString(), saved).ok);
    QVERIFY(w_->window->files().openPath(song));
    CompositionInfoWindow* info = openInfo();
    QVERIFY(info);
    QVERIFY(!action(Command::CompositionInfo)->isEnabled());
    reports().openCompositionInfo();  // does nothing while open
    QCOMPARE(reports().infoWindow(), info);

    QApplication::setActiveWindow(info);
    info->eventsList()->setCurrentRow(2);
    const QStringList chosen = info->eventList()->rows();
    info->eventsList()->setFocus();
    QTest::keyClick(info->eventsList(), Qt::Key_Return);
    QVERIFY(info->isVisible());
    QCOMPARE(info->eventsList()->currentRow(), 2);  // Enter neither closes nor updates
    QCOMPARE(info->eventList()->rows(), chosen);
    QTest::keyClick(info->eventsList(), Qt::Key_Escape);
    QVERIFY(!reports().isInfoOpen());
    QTRY_VERIFY(!reports().infoWindow());
    QTRY_VERIFY(action(Command::CompositionInfo)->isEnabled());

    // New destroys it; the next one still shows the file's version.
    QVERIFY(openInfo());
    ws().document.newDocument();
    QVERIFY(!reports().isInfoOpen());
    QTRY_VERIFY(!reports().infoWindow());
    ws().document.edit(QStringLiteral("add"), Scope::Composition, [](CTarrowinDoc& d) {
        d.setEndCounter(10);
        d.addCurrentSettingsAsEvent();
    });
    info = openInfo();
    QVERIFY(info);
    QCOMPARE(info->globalList()->rows().value(3), QStringLiteral("File version: 2.50"));
}

void ReportWindowsTest::copyTakesTheSelectedRows() {
    ws().document.edit(QStringLiteral("setup"), Scope::Composition, makeComposition);
    CompositionInfoWindow* info = openInfo();
    ReportList* global = info->globalList();
    global->item(0)->setSelected(true);
    global->item(10)->setSelected(true);
    QApplication::setActiveWindow(info);
    global->setFocus();
    QTest::keySequence(global, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), global->item(0)->text() + QLatin1Char('\n') + global->item(10)->text());
    QVERIFY(global->item(10)->text().contains(QLatin1Char('\t')));  // the rows as they stand
}

void ReportWindowsTest::imageShowsTheWholePictureAndSavesIt() {
    QVERIFY(!action(Command::CreateImage)->isEnabled());
    // One event from 0 to 10 with every voice off: S = 10 + 1, K = 1.
    ws().document.edit(QStringLiteral("setup"), Scope::Composition, [](CTarrowinDoc& d) {
        for (int v = 0; v < kVoices; ++v) d.setEnabled(v, false);
        d.setEndCounter(10);
        d.addCurrentSettingsAsEvent();
    });
    action(Command::CreateImage)->trigger();
    ImageWindow* image = reports().imageWindow();
    QVERIFY(image && image->isVisible());
    QCOMPARE(image->sums(), (ImageSums{11, 1}));
    QCOMPARE(image->windowTitle(), QStringLiteral("Image from composition (S = 11, K = 1)"));
    QCOMPARE(image->minimumSize(), image->maximumSize());  // not resizable
    QCOMPARE(image->pictureView()->size(), QSize(500, 500));
    const QImage expected = expectedPicture({11, 1});
    QCOMPARE(image->pictureView()->grab().toImage().convertToFormat(QImage::Format_RGB888), expected);
    QVERIFY(!action(Command::CreateImage)->isEnabled());

    // Ctrl+S in the image window saves the picture, not the document.
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("picture.png"));
    QString title;
    answerFileDialog(png, &title);
    QApplication::setActiveWindow(image);
    QTest::keySequence(image, QKeySequence::Save);
    QTRY_VERIFY(QFileInfo::exists(png));
    QCOMPARE(title, QStringLiteral("Save Image"));
    QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB888), expected);
    QVERIFY(ws().document.path().isEmpty());

    // A folder that does not exist: the reason, and no file.
    const QString missing = dir.filePath(QStringLiteral("missing/picture.png"));
    QVERIFY(!image->saveTo(missing).isEmpty());
    QVERIFY(!QFileInfo::exists(missing));

    // The toolbar's visible "Save Image..." does the same; Escape closes the window.
    QVERIFY(QFile::remove(png));
    answerFileDialog(png);
    auto* button = named<QToolButton>(image, QStringLiteral("Save Image..."));
    QVERIFY(button && button->isVisible());
    button->click();
    QTRY_VERIFY(QFileInfo::exists(png));
    QApplication::setActiveWindow(image);
    QTest::keyClick(image->pictureView(), Qt::Key_Escape);
    QVERIFY(!reports().isImageOpen());
    QTRY_VERIFY(action(Command::CreateImage)->isEnabled());
}

void ReportWindowsTest::longImageShowsProgressAndCancelOpensNothing() {
    // 200 events of 50000 ticks with every voice on: seconds of work, on a worker thread.
    ws().document.edit(QStringLiteral("setup"), Scope::Composition, [](CTarrowinDoc& d) {
        for (int v = 0; v < kVoices; ++v) d.setEnabled(v, true);
        d.setEndCounter(50000);
        for (int e = 0; e < 200; ++e) d.addCurrentSettingsAsEvent();
    });
    // The event loop runs meanwhile: this watch sees the progress move and cancels.
    QString title;
    whenDialogShows([&](QWidget* w) {
        auto* progress = qobject_cast<ProgressDialog*>(w);
        if (!progress || progress->progress() < 1) return false;
        title = progress->windowTitle();
        named<QPushButton>(progress, QStringLiteral("Cancel"))->click();
        return true;
    });
    action(Command::CreateImage)->trigger();
    QCOMPARE(title, QStringLiteral("Image from composition"));
    QVERIFY(!reports().imageWindow());
    QVERIFY(action(Command::CreateImage)->isEnabled());
}

namespace {

// What the Current note dialog showed, read when it opens; Enter then closes it.
struct SeenNotes {
    bool shown = false;
    bool closedByEnter = false;
    QStringList texts, names;
    QList<bool> enabled;

    void watch() {
        whenDialogShows([this](QWidget* w) {
            auto* dialog = qobject_cast<CurrentNoteDialog*>(w);
            if (!dialog) return false;
            shown = true;
            for (int v = 0; v < kVoices; ++v) {
                texts << dialog->noteLabel(v)->text();
                names << dialog->noteLabel(v)->accessibleName();
                enabled << (dialog->noteLabel(v)->isEnabled() && dialog->numberLabel(v)->isEnabled());
            }
            QTest::keyClick(dialog, Qt::Key_Return);
            closedByEnter = !dialog->isVisible();
            if (!closedByEnter) dialog->reject();
            return true;
        });
    }
};

}  // namespace

void ReportWindowsTest::currentNoteMarksTheDocumentAndShowsTheCoreLabels() {
    ws().document.edit(QStringLiteral("setup"), Scope::Current, [](CTarrowinDoc& d) {
        d.setStartCounter(10);
        d.setStartNote(4, 49);
        d.setModulate(6, true);
        d.setModulation(6, 1, 4);
        d.setEnabled(6, true);
    });
    QTemporaryDir dir;
    QVERIFY(ws().document.save(dir.filePath(QStringLiteral("song.trw"))).ok);
    const size_t steps = ws().document.history().count();
    QVERIFY(!ws().document.isModified());

    SeenNotes seen;
    seen.watch();
    action(Command::GetCurrentNote)->trigger();
    QVERIFY(seen.shown);
    QVERIFY(seen.closedByEnter);
    QVERIFY(ws().document.isModified());  // though no field changed
    QCOMPARE(ws().document.history().count(), steps);

    const auto labels = currentNoteLabels(ws().document.doc().current());
    for (int v = 0; v < kVoices; ++v) {
        const auto& label = labels[static_cast<size_t>(v)];
        QCOMPARE(seen.texts.value(v), QString::fromStdString(label.text));
        QCOMPARE(seen.enabled.value(v), !label.greyed);
        QCOMPARE(seen.names.value(v), QStringLiteral("Voice %1 note").arg(v + 1));
    }
    QVERIFY(!seen.enabled.value(4));  // a voice that is off shows its note greyed
    QCOMPARE(seen.texts.value(4), QStringLiteral("D#4 (1)"));
    QCOMPARE(seen.texts.value(6), QStringLiteral("N/A"));
}

void ReportWindowsTest::currentNoteTakesTypedValuesAndStopsOnARefusal() {
    TarrowinView& view = w_->window->view();
    view.row(0).edit(VoiceRow::Offset)->setText(QStringLiteral("2"));  // typed, not yet left
    SeenNotes seen;
    seen.watch();
    w_->window->reports().showCurrentNote();
    QVERIFY(seen.shown);
    QCOMPARE(ws().document.doc().voice(0).offset, 2);
    QCOMPARE(seen.texts.value(0), QString::fromStdString(currentNoteLabels(ws().document.doc().current())[0].text));

    MessageBoxes boxes;
    view.row(1).edit(VoiceRow::Param1)->setText(QStringLiteral("1"));
    SeenNotes refused;
    refused.watch();
    w_->window->reports().showCurrentNote();
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY(!refused.shown);
    QCOMPARE(ws().document.doc().voice(1).param1, 2);
}

TARROWIN_QTEST_MAIN(ReportWindowsTest)
#include "report_windows_test.moc"
