// The main window's less travelled paths: the percussion channel dialog and what it changes
// in a play, a save that fails, a calculator that is not installed, a start on a file that
// cannot be read or with a settings file that cannot be.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>

#include "app/file_commands.h"
#include "app/startup.h"
#include "app_test_support.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

std::vector<std::unique_ptr<MidiBackend>> recorderOnly() {
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::make_unique<RecordingBackend>(SteadyClock::instance(), std::vector<std::string>{"Recorder"}, true));
    return backends;
}

// Runs `fn` on the program's main window once it shows with no question open.
void onceStarted(std::function<void(MainWindow&)> fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        if (QApplication::activeModalWidget()) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<MainWindow*>(w);
            if (!window || !window->isVisible()) continue;
            timer->deleteLater();
            timer->stop();
            fn(*window);
            return;
        }
    });
    timer->start(10);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Sets an environment variable for the life of the guard.
class EnvironmentGuard {
   public:
    EnvironmentGuard(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~EnvironmentGuard() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

   private:
    const char* name_;
    QByteArray old_;
    bool had_;
};

}  // namespace

class WindowPathsTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void percussionChannelIsChosenAndPlayed();
    void failedSaveKeepsTheDocumentAndTheWindow_data();
    void failedSaveKeepsTheDocumentAndTheWindow();
    void missingCalculatorIsNamed();
    void startOnAnUnreadableFileEnds_data();
    void startOnAnUnreadableFileEnds();
    void unreadableSettingsFileLeavesTheDefaults_data();
    void unreadableSettingsFileLeavesTheDefaults();

   private:
    Workspace& ws() { return w_->ws(); }
    std::unique_ptr<WindowUnderTest> w_;
};

void WindowPathsTest::percussionChannelIsChosenAndPlayed() {
    MidiOutput& out = ws().playback.output();
    out.setPercussionChannel(4);
    int shownWith = -1;
    bool keptByEscape = false;
    onDialog(QStringLiteral("Percussion Channel"), [&](QDialog* d) {
        QComboBox* channels = listDescribed(d, QStringLiteral("Channel"));
        shownWith = channels->currentIndex();
        QTest::keyClick(d, Qt::Key_Escape);
        keptByEscape = d->isVisible();
        choose(channels, 0);
        named<QPushButton>(d, QStringLiteral("OK"))->click();
    });
    w_->window->action(Command::PercussionChannel)->trigger();
    QCOMPARE(shownWith, 4);
    QVERIFY(keptByEscape);
    QCOMPARE(out.percussionChannel(), 0);

    // Voice 1 plays on channel 0: now its notes are its drum key, percussion row 0 = key 35.
    ws().document.edit(QStringLiteral("setup"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setTempo(340);
        d.setEndCounter(4);
    });
    ws().playback.setLocked(true);
    w_->window->play();
    QTRY_VERIFY(!ws().playback.isPlaying());
    QList<int> keys;
    for (const ShortMessage& m : w_->recorded.recorder->messages())
        if (m.status == 0x90 && m.data2 > 0) keys << m.data1;
    QVERIFY(!keys.isEmpty());
    QCOMPARE(keys, QList<int>(keys.size(), 35));
}

void WindowPathsTest::failedSaveKeepsTheDocumentAndTheWindow_data() {
    // How the document's folder stops taking files; it stays in `folder` either way.
    QTest::addColumn<QString>("how");
    QTest::newRow("folder made read-only") << QStringLiteral("read-only");
    QTest::newRow("folder replaced by a file") << QStringLiteral("file");  // stops root too
}

void WindowPathsTest::failedSaveKeepsTheDocumentAndTheWindow() {
    QFETCH(QString, how);
    if (how == QLatin1String("read-only") && ::geteuid() == 0) QSKIP("permissions do not stop root");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("songs"));
    QVERIFY(QDir().mkpath(folder));
    const QString song = folder + QStringLiteral("/song.trw");
    QVERIFY(ws().document.save(song).ok);
    const QByteArray saved = readFile(song);
    ws().document.edit(QStringLiteral("x"), DocumentController::Scope::Composition, [](CTarrowinDoc& d) { d.setTempo(120); });

    if (how == QLatin1String("file")) {
        QVERIFY(QDir(folder).removeRecursively());
        writeFile(folder, "x");
    } else {
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const auto unchanged = [&] {
        if (how == QLatin1String("file")) return readFile(folder) == "x";
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
                   QStringList{QStringLiteral("song.trw")} &&
               readFile(song) == saved;
    };
    const QString failure = QString::fromStdString(DocumentController().save(song).message);

    MessageBoxes boxes;
    w_->window->action(Command::Save)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.lastText(), failure);
    QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);
    QVERIFY(ws().document.isModified());
    QVERIFY(unchanged());

    // "Yes" to the save question: the save fails, so the window stays open.
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    w_->window->action(Command::Exit)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(2));
    QCOMPARE(boxes.seen()[0].text, QStringLiteral("Save changes to song.trw?"));
    QCOMPARE(boxes.seen()[1].text, failure);
    QVERIFY(w_->window->isVisible());
    QVERIFY(ws().document.isModified());
    QVERIFY(unchanged());
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void WindowPathsTest::missingCalculatorIsNamed() {
    EnvironmentGuard noPrograms("PATH", "");
    MessageBoxes boxes;
    w_->window->action(Command::Calculator)->trigger();
    QCOMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.lastText(), QStringLiteral("gnome-calculator was not found"));
    QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);
}

void WindowPathsTest::startOnAnUnreadableFileEnds_data() {
    QTest::addColumn<QByteArray>("contents");  // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a document") << QByteArray("not a document");
}

void WindowPathsTest::startOnAnUnreadableFileEnds() {
    QFETCH(QByteArray, contents);
    cleanup();  // the start makes its own window
    QTemporaryDir dir;
    CommandLine line;
    line.file = dir.filePath(QStringLiteral("song.trw"));
    if (!contents.isEmpty()) writeFile(line.file, contents);
    const QString reason = QString::fromStdString(DocumentController().open(line.file).message);
    QVERIFY(!reason.isEmpty());

    MessageBoxes boxes;
    const int code = runTarrowin(*qApp, recorderOnly(), line);
    QVERIFY(code != 0);
    QCOMPARE(boxes.seen().size(), size_t(1));
    QCOMPARE(boxes.lastText(), reason);
    QCOMPARE(boxes.seen()[0].icon, QMessageBox::Warning);
}

void WindowPathsTest::unreadableSettingsFileLeavesTheDefaults_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a pipe") << QStringLiteral("pipe") << QStringLiteral("it is a pipe, not a regular file");
    QTest::newRow("a link to a device") << QStringLiteral("device") << QStringLiteral("it is a device, not a regular file");
}

void WindowPathsTest::unreadableSettingsFileLeavesTheDefaults() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    cleanup();
    // The settings of this start live in a folder of their own, out of the tests' test mode,
    // under the program's own names.
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("Tarrowin/Tarrowin.conf"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowin"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarrowin"));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    if (kind == QLatin1String("pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else {
        // A device node of its own, like /dev/zero: should the file ever be written, the
        // system's device stays whole.
        const QString zero = config.filePath(QStringLiteral("zero"));
        if (::mknod(QFile::encodeName(zero).constData(), S_IFCHR | 0600, ::makedev(1, 5)) != 0)
            QSKIP("device nodes cannot be made here");
        QVERIFY(QFile::link(zero, file));
    }
    QStandardPaths::setTestModeEnabled(false);
    EnvironmentGuard home("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, config.path());
    QTemporaryDir dir;
    CommandLine line;
    line.device = QStringLiteral("0");
    line.file = dir.filePath(QStringLiteral("song.trw"));
    QVERIFY(DocumentController().save(line.file).ok);
    MessageBoxes boxes;
    bool shown = false;
    onceStarted([&shown](MainWindow& window) {
        shown = window.isVisible();
        ::raise(SIGTERM);  // ends the program wherever its start is
    });
    const int code = runTarrowin(*qApp, recorderOnly(), line);
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QStringLiteral("app_window_paths_test"));
    QStandardPaths::setTestModeEnabled(true);
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    QCOMPARE(code, 128 + SIGTERM);
    QVERIFY(shown);
    QCOMPARE(boxes.seen().size(), size_t(1));
    QVERIFY2(boxes.lastText().startsWith(QStringLiteral("Tarrowin cannot read its settings file, so it starts with its "
                                                        "default settings")) &&
                 boxes.lastText().endsWith(file + QStringLiteral(": ") + reason),
             qPrintable(boxes.lastText()));
    // The file is left as it was: the recent file went nowhere.
    QFileInfo after(file);
    QCOMPARE(after.isSymLink(), kind == QLatin1String("device"));
    QVERIFY(!after.isFile());
}

TARROWIN_QTEST_MAIN(WindowPathsTest)
#include "window_paths_test.moc"
