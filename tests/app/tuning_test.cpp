// Options > Tuning... and a voice's "Tuned" switch: the dialog shows the loaded scale and
// map, refuses a broken file naming its line, and OK stores the tuning as one undo step;
// the Extra dialog's switch is stored with the voice's other values.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/form/tarrowin_view.h"
#include "app/main_window.h"
#include "app/tuning_dialog.h"
#include "app_test_support.h"
#include "support/tuning_files.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

QString tuningFile(const char* name) { return QString::fromStdString(tarrowin::testing::tuningFilePath(name)); }

QLabel* labelDescribed(QWidget* root, const QString& description) {
    for (QLabel* l : root->findChildren<QLabel*>())
        if (l->accessibleDescription() == description) return l;
    return nullptr;
}

}  // namespace

class TuningTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void dialogShowsTheFilesAndOkIsOneStep() {
        QStringList shown;
        onDialog(QStringLiteral("Tuning"), [&shown](QDialog* d) {
            QCOMPARE(labelDescribed(d, QStringLiteral("Scale description"))->text(),
                     QStringLiteral("12-tone equal temperament (default)"));
            answerFileDialog(tuningFile("ji-major.scl"));
            named<QPushButton>(d, QStringLiteral("Load Scale..."))->click();
            answerFileDialog(tuningFile("white-keys-d.kbm"));
            named<QPushButton>(d, QStringLiteral("Load Keyboard Map..."))->click();
            for (const char* what : {"Scale description", "Degree count", "Keyboard map", "Reference frequency"})
                shown << labelDescribed(d, QString::fromLatin1(what))->text();
            auto* degrees = named<QListWidget>(d, QStringLiteral("Degrees in cents"));
            shown << degrees->item(0)->text() << degrees->item(degrees->count() - 1)->text();
            named<QRadioButton>(d, QStringLiteral("Pitch bend"))->click();
            d->accept();
        });
        w_->window->action(Command::Tuning)->trigger();
        QCOMPARE(shown, (QStringList{"Just intonation major scale, 5-limit", "7, repeating every 1200.000 cents",
                                     "keys 0 to 127 retuned, degree 0 on key 60, 12 keys a pattern, 53 keys unmapped",
                                     "293.665 Hz at key 62 (D5)", "1: 203.910", "7: 1200.000"}));
        const TuningSettings& t = doc().tuning();
        QCOMPARE(t.method, TuningMethod::PitchBend);
        QCOMPARE(QString::fromStdString(t.tuning.mapText()), QString::fromStdString(tarrowin::testing::tuningFile("white-keys-d.kbm")));
        QCOMPARE(ws().document.undoName(), QStringLiteral("Tuning"));
        QVERIFY(ws().document.isModified());
        ws().document.undo();
        QVERIFY(doc().tuning().isDefault());
        QVERIFY(!ws().document.isModified());
        ws().document.redo();
        QCOMPARE(doc().tuning().method, TuningMethod::PitchBend);

        // Cancel stores nothing; "12-tone equal (default)" and OK take the tuning away.
        onDialog(QStringLiteral("Tuning"), [](QDialog* d) {
            named<QRadioButton>(d, QStringLiteral("MIDI Tuning Standard"))->click();
            d->reject();
        });
        w_->window->action(Command::Tuning)->trigger();
        QCOMPARE(doc().tuning().method, TuningMethod::PitchBend);
        onDialog(QStringLiteral("Tuning"), [](QDialog* d) {
            named<QPushButton>(d, QStringLiteral("12-tone equal (default)"))->click();
            QCOMPARE(labelDescribed(d, QStringLiteral("Reference frequency"))->text(), QStringLiteral("261.626 Hz at key 60 (C5)"));
            d->accept();
        });
        w_->window->action(Command::Tuning)->trigger();
        QVERIFY(doc().tuning().isDefault());
    }

    void aBrokenFileIsRefusedNamingItsLine() {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("bad.scl"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("two\n2\n3/2\n1.2.3\n") > 0);
        file.close();
        MessageBoxes boxes;
        onDialog(QStringLiteral("Tuning"), [&](QDialog* d) {
            answerFileDialog(tuningFile("19edo.scl"));
            named<QPushButton>(d, QStringLiteral("Load Scale..."))->click();
            answerFileDialog(bad);
            named<QPushButton>(d, QStringLiteral("Load Scale..."))->click();
            QCOMPARE(labelDescribed(d, QStringLiteral("Scale description"))->text(), QStringLiteral("19-tone equal temperament"));
            d->accept();
        });
        w_->window->action(Command::Tuning)->trigger();
        QCOMPARE(boxes.seen().size(), size_t{1});
        QCOMPARE(boxes.lastText(), QStringLiteral("Cannot read \"%1\": line 4: degree 2 is not a number of cents: \"1.2.3\"").arg(bad));
        QCOMPARE(QString::fromStdString(doc().tuning().tuning.description()), QStringLiteral("19-tone equal temperament"));
    }

    void theExtraDialogsTunedSwitch() {
        bool seen = false;
        onDialog(QStringLiteral("Extra - voice 1"), [&seen](QDialog* d) {
            seen = true;
            auto* tuned = named<QCheckBox>(d, QStringLiteral("Tuned"));
            QVERIFY(tuned->isChecked() && tuned->isEnabled());
            QCOMPARE(playNote(d), QString());
            named<QCheckBox>(d, QStringLiteral("Percussion"))->click();
            QVERIFY(!tuned->isEnabled());  // drum keys are never retuned
            named<QCheckBox>(d, QStringLiteral("Percussion"))->click();
            tuned->click();
            d->accept();
        });
        QTest::mouseClick(w_->window->view().row(0).control(VoiceRow::Extra), Qt::LeftButton);
        QVERIFY(seen);
        QVERIFY(!doc().tuning().tuned[0]);
        QCOMPARE(ws().document.undoName(), QStringLiteral("Extra voice 1"));
        ws().document.undo();
        QVERIFY(doc().tuning().tuned[0]);

        // During a live play with Edit While Playing the dialog is open, but the play keeps
        // the tuning it began with: the switch waits for its end, and so do the channel and the
        // Percussion box when the play retunes (its tuning was planned on its channels).
        ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current,
                           [](CTarrowinDoc& d) { d.setEndCounter(kMaxCounter); });
        w_->window->action(Command::EditWhilePlaying)->trigger();
        for (const bool retuned : {false, true}) {
            if (retuned) {
                ws().document.edit(QStringLiteral("tuning"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
                    TuningSettings t = d.tuning();
                    t.tuning = *Tuning::fromText(tarrowin::testing::tuningFile("19edo.scl")).value;
                    d.setTuning(t);
                });
            }
            w_->window->play();
            QTRY_VERIFY(ws().playback.isPlaying());
            seen = false;
            onDialog(QStringLiteral("Extra - voice 1"), [&](QDialog* d) {
                seen = true;
                QVERIFY(!named<QCheckBox>(d, QStringLiteral("Tuned"))->isEnabled());
                QCOMPARE(named<QComboBox>(d, QStringLiteral("Channel"))->isEnabled(), !retuned);
                QCOMPARE(named<QCheckBox>(d, QStringLiteral("Percussion"))->isEnabled(), !retuned);
                // The dialog says why they are greyed out.
                QVERIFY(playNote(d).startsWith(retuned ? QLatin1String("Tuned, Channel and Percussion can change once the play ends")
                                                       : QLatin1String("Tuned can change once the play ends")));
                d->reject();
            });
            QTest::mouseClick(w_->window->view().row(0).control(VoiceRow::Extra), Qt::LeftButton);
            QVERIFY(seen);
            w_->window->stop();
            QTRY_VERIFY(ws().playback.canPlay());
        }
    }

   private:
    // The Extra dialog's visible note on what waits for the play's end, or nothing.
    static QString playNote(QDialog* d) {
        for (QLabel* l : d->findChildren<QLabel*>()) {
            if (l->isVisible() && l->text().contains(QLatin1String("once the play ends"))) return l->text();
        }
        return {};
    }
    Workspace& ws() { return w_->ws(); }
    const CTarrowinDoc& doc() { return ws().document.doc(); }
    std::unique_ptr<WindowUnderTest> w_;
};

TARROWIN_QTEST_MAIN(TuningTest)
#include "tuning_test.moc"
