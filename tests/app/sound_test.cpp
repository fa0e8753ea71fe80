// What the window adds for hearing a piece. "Export &Audio...": the file as sox measures it
// (length, audible, silent when no voice plays) in WAV and FLAC, the stems beside it, the
// refusals, and a Cancel or a failure that leaves no file and an older file as it was.
// "Sound&Font...": a broken file refused with its reason, a good one remembered and used
// by the export.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "app/main_window.h"
#include "app/progress_dialog.h"
#include "app/audio/soundfont_dialog.h"
#include "playback/synth.h"
#include "app_test_support.h"
#include "playback/sox_stat.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

void writeFile(const QString& path, const char* text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0) qFatal("cannot write %s", qPrintable(path));
}

// Answers the export's file dialog with `path`, ticking "One file per voice (stems)" (and
// noting in `ticked` whether it was ticked already), and the folder dialog that follows
// with `folder`.
void answerWithStems(const QString& path, const QString& folder, bool* ticked = nullptr) {
    whenDialogShows([path, ticked](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        QCheckBox* stems = d ? named<QCheckBox>(d, QStringLiteral("One file per voice (stems)")) : nullptr;
        if (!stems) return false;
        if (ticked) *ticked = stems->isChecked();
        stems->setChecked(true);
        d->selectFile(path);
        QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        return true;
    });
    onDialog(QStringLiteral("Stems Folder"), [folder](QDialog* d) {
        static_cast<QFileDialog*>(d)->selectFile(folder);
        QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
    });
}

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }

}  // namespace

class SoundTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() {
        w_ = std::make_unique<WindowUnderTest>();
        edit([](CTarrowinDoc& d) { d.setEndCounter(64); });  // tempo 96: 64 ticks of 78 ms
        Preferences().setSoundFont(QString());
    }
    void cleanup() {
        w_.reset();
        Preferences().setSoundFont(QString());
    }

    void writesWhatTheMidiExportHolds_data();
    void writesWhatTheMidiExportHolds();
    void refusesWithoutTouchingAFile_data();
    void refusesWithoutTouchingAFile();
    void cancelLeavesTheOlderFileAsItWas();
    void stemsGoIntoTheChosenFolder();
    void soundFontRefusedWithItsReasonOrRemembered();

   private:
    Workspace& ws() { return w_->ws(); }
    QAction* action(Command c) { return w_->window->action(c); }
    void edit(const std::function<void(CTarrowinDoc&)>& fn) {
        ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Composition, fn);
    }
    std::unique_ptr<WindowUnderTest> w_;
};

void SoundTest::writesWhatTheMidiExportHolds_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("composition");
    QTest::addColumn<bool>("voiceOn");
    QTest::addColumn<double>("seconds");
    // 64 ticks of 78 ms and the tail of a second; the composition holds the passage twice.
    QTest::newRow("current settings, WAV") << "song.wav" << false << true << 5.992;
    QTest::newRow("current settings, FLAC") << "song.flac" << false << true << 5.992;
    QTest::newRow("composition, FLAC") << "song.FLAC" << true << true << 10.984;
    QTest::newRow("no voice plays") << "silence.wav" << false << false << 5.992;
}

void SoundTest::writesWhatTheMidiExportHolds() {
    QFETCH(QString, name);
    QFETCH(bool, composition);
    QFETCH(bool, voiceOn);
    QFETCH(double, seconds);
    edit([=](CTarrowinDoc& d) {
        d.setEnabled(0, voiceOn);
        if (composition) {
            d.addCurrentSettingsAsEvent();
            d.addCurrentSettingsAsEvent();
        }
    });
    if (composition) ws().playback.setPlayMode(PlayMode::Composition);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QString title;
    answerFileDialog(path, &title);
    MessageBoxes boxes;
    action(Command::ExportAudio)->trigger();
    QCOMPARE(title, composition ? QStringLiteral("Export Audio (Composition)")
                                : QStringLiteral("Export Audio (Current Settings)"));
    QCOMPARE(boxes.seen().size(), size_t(0));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name});
    const tarrowin::testing::SoxStat stat = tarrowin::testing::soxStat(path.toStdString());
    QVERIFY2(std::abs(stat.seconds - seconds) < 0.01, qPrintable(QString::number(stat.seconds)));
    if (voiceOn) {
        QVERIFY2(stat.rms > 0.005, qPrintable(QString::number(stat.rms)));
    } else {
        QVERIFY2(stat.rms < 0.0001, qPrintable(QString::number(stat.rms)));  // the dither of 16 bits
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(4), name.endsWith(QLatin1String("wav")) ? QByteArray("RIFF") : QByteArray("fLaC"));
}

void SoundTest::refusesWithoutTouchingAFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("sharedChannel");  // a tuned and an untuned voice on channel 0
    QTest::newRow("End not above Start") << "song.wav" << 0 << "Start counter must be less then End Counter" << false;
    QTest::newRow("neither WAV nor FLAC") << "song.mp3" << 64
                                          << "Audio is written as WAV or FLAC: choose a name that ends in .wav or .flac"
                                          << false;
    QTest::newRow("folder missing") << "missing/song.wav" << 64 << "Could not create" << false;
    QTest::newRow("a tuned voice shares its channel") << "song.wav" << 64
                                                      << "Voice 1 is tuned and voice 2 is not, but both play on channel 0"
                                                      << true;
}

void SoundTest::refusesWithoutTouchingAFile() {
    QFETCH(QString, name);
    QFETCH(int, end);
    QFETCH(QString, message);
    QFETCH(bool, sharedChannel);
    edit([=](CTarrowinDoc& d) {
        d.setEndCounter(end);
        if (!sharedChannel) return;
        TuningSettings t;
        t.tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
        t.tuned[1] = false;
        d.setTuning(t);
        d.setEnabled(1, true);
        d.editVoice(1, [](VoiceSettings& v) { v.channel = 0; });
    });
    QTemporaryDir dir;
    if (end > 0 && !sharedChannel) answerFileDialog(dir.filePath(name));  // a refusal before the dialog asks nothing
    MessageBoxes boxes;
    action(Command::ExportAudio)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY2(boxes.lastText().startsWith(message), qPrintable(boxes.lastText()));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

void SoundTest::cancelLeavesTheOlderFileAsItWas() {
    // Five hours of music at tempo 20: Cancel comes long before the end.
    edit([](CTarrowinDoc& d) {
        d.setTempo(20);
        d.setEndCounter(50000);
    });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.wav"));
    writeFile(path, "an older file");
    answerFileDialog(path);
    bool cancelled = false;
    whenDialogShows([&cancelled](QWidget* w) {
        auto* progress = qobject_cast<ProgressDialog*>(w);
        if (!progress || progress->progress() < 1) return false;
        named<QPushButton>(progress, QStringLiteral("Cancel"))->click();
        cancelled = true;
        return true;
    });
    MessageBoxes boxes;
    boxes.answer(QMessageBox::Yes);  // the file dialog's question before replacing a file
    action(Command::ExportAudio)->trigger();
    QVERIFY(cancelled);
    QCOMPARE(w_->window->statusBar()->currentMessage(), QStringLiteral("Export cancelled, nothing written"));
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY(boxes.lastText().contains(QStringLiteral("already exists")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("song.wav")});
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("an older file"));
}

void SoundTest::stemsGoIntoTheChosenFolder() {
    edit([](CTarrowinDoc& d) { d.setEnabled(2, true); });
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("stems")));
    const QString stems = dir.filePath(QStringLiteral("stems"));
    answerWithStems(dir.filePath(QStringLiteral("song.flac")), stems);
    MessageBoxes boxes;
    action(Command::ExportAudio)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(0));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("song.flac")});
    QCOMPARE(filesIn(stems), (QStringList{QStringLiteral("effects.flac"), QStringLiteral("voice-01.flac"),
                                          QStringLiteral("voice-03.flac")}));
    const double seconds = tarrowin::testing::soxStat(dir.filePath(QStringLiteral("song.flac")).toStdString()).seconds;
    for (const QString& stem : filesIn(stems)) {
        const tarrowin::testing::SoxStat stat = tarrowin::testing::soxStat(QDir(stems).filePath(stem).toStdString());
        QVERIFY2(std::abs(stat.seconds - seconds) < 1e-4 && stat.rms > 0.0005, qPrintable(stem));
    }

    // Cancel leaves the folder as it was, the check box ticked for the next export.
    edit([](CTarrowinDoc& d) {
        d.setTempo(20);
        d.setEndCounter(50000);
    });
    QVERIFY(QDir(stems).removeRecursively() && QDir(dir.path()).mkdir(QStringLiteral("stems")));
    bool ticked = false;
    answerWithStems(dir.filePath(QStringLiteral("long.wav")), stems, &ticked);
    whenDialogShows([](QWidget* w) {
        auto* progress = qobject_cast<ProgressDialog*>(w);
        if (!progress || progress->progress() < 1) return false;
        named<QPushButton>(progress, QStringLiteral("Cancel"))->click();
        return true;
    });
    action(Command::ExportAudio)->trigger();
    QVERIFY(ticked);
    QCOMPARE(boxes.seen().size(), size_t(0));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("song.flac")});
    QVERIFY(QDir(stems).isEmpty());
}

void SoundTest::soundFontRefusedWithItsReasonOrRemembered() {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.sf2"));
    writeFile(broken, "RIFF, but no SoundFont");
    const QString good = dir.filePath(QStringLiteral("good.sf2"));
    QVERIFY(QFile::copy(QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2"), good));

    const auto choose = [this](const QString& path) {
        onDialog(QStringLiteral("SoundFont"), [path](QDialog* d) {
            auto* dialog = static_cast<SoundFontDialog*>(d);
            // The installed SoundFonts come first, after the default.
            QVERIFY(dialog->list()->count() >= 2);
            QCOMPARE(dialog->list()->item(1)->data(Qt::UserRole).toString(),
                     QString::fromStdString(installedSoundFonts().front()));
            dialog->select(path);
            dialog->accept();
        });
        action(Command::SoundFont)->trigger();
    };
    MessageBoxes boxes;
    choose(good);
    QCOMPARE(boxes.seen().size(), size_t(0));
    QCOMPARE(Preferences().soundFont(), good);

    choose(broken);
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY2(boxes.lastText().startsWith(QStringLiteral("The SoundFont %1 could not be loaded").arg(broken)),
             qPrintable(boxes.lastText()));
    QCOMPARE(boxes.seen().back().icon, QMessageBox::Warning);
    QCOMPARE(Preferences().soundFont(), good);  // the old choice stays

    // The export plays through the chosen SoundFont: gone, the file cannot play.
    QVERIFY(QFile::remove(good));
    QVERIFY(QFile::copy(broken, good));
    answerFileDialog(dir.filePath(QStringLiteral("song.wav")));
    action(Command::ExportAudio)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(2));
    QVERIFY2(boxes.lastText().startsWith(QStringLiteral("The SoundFont %1 could not be loaded").arg(good)),
             qPrintable(boxes.lastText()));
}

TARROWIN_QTEST_MAIN(SoundTest)
#include "sound_test.moc"
