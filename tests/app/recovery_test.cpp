// Recovery copies: a copy left by a Tarrowin that is gone is offered once and recovered or
// deleted, a running Tarrowin's copy is never taken, a copy that cannot be read is moved
// aside and one of another version left alone, a copy follows the modified flag of the
// document, a program ended by a signal leaves its copy for the next start, and a store
// that cannot keep copies says so.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/document_controller.h"
#include "app/main_window.h"
#include "app/recovery/crash_recovery.h"
#include "app_test_support.h"
#include "document/document_file.h"
#include "tools/prompter.h"

using namespace tarrowin;
using namespace tarrowin::app;

namespace {

class FakePrompter : public Prompter {
   public:
    void message(const std::string& text, const std::string&, MessageIcon) override {
        messages << QString::fromStdString(text);
    }
    bool ask(const std::string& text, const std::string&) override {
        questions << QString::fromStdString(text);
        return answer;
    }
    bool answer = true;
    QStringList messages;
    QStringList questions;
};

// `tuned`: with a tuning of five equal steps, voice 4 left untuned.
CTarrowinDoc composedDocument(bool tuned = false) {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    if (tuned) {
        TuningSettings t;
        t.tuning = *Tuning::fromText("five\n5\n240.\n480.\n720.\n960.\n2/1\n").value;
        t.tuned[3] = false;
        doc.setTuning(t);
    }
    doc.setTempo(140);
    doc.setParam1(3, 77);
    doc.setEndCounter(64);
    doc.addCurrentSettingsAsEvent();
    doc.setEnabled(5, true);
    doc.addCurrentSettingsAsEvent();
    return doc;
}

// A Tarrowin that wrote a copy and was killed: a child process that never runs its
// destructors. It also leaves half a copy's temporary file behind.
void leaveCopyOfKilledTarrowin(const QString& folder, const CTarrowinDoc& doc, const QString& documentPath) {
    const pid_t child = ::fork();
    if (child == 0) {
        RecoveryStore store(folder);
        const bool written = store.write(doc, documentPath);
        QFile half(folder + QStringLiteral("/.") + QFileInfo(store.copyPath()).fileName() + QStringLiteral(".tmp-1-1"));
        ::_exit(written && half.open(QIODevice::WriteOnly) ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

void editTempo(DocumentController& document, int tempo) {
    document.edit(QStringLiteral("Tempo"), DocumentController::Scope::Current,
                  [tempo](CTarrowinDoc& d) { d.setTempo(tempo); });
}

// The copy holds the document as it is and the path it saves to.
void verifyCopyOf(const CrashRecovery& recovery, const DocumentController& document) {
    QVERIFY(recovery.store().hasCopy());
    const RecoveredDocument copy = readRecoveryCopy(recovery.store().copyPath());
    QVERIFY2(copy.ok, qPrintable(copy.message));
    QCOMPARE(copy.documentPath, document.path());
    QVERIFY(serializeDocument(copy.doc) == serializeDocument(document.doc()));
}

constexpr std::chrono::hours kNever{1};

}  // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
    }

    void leftCopyIsOfferedOnce_data();
    void leftCopyIsOfferedOnce();
    void runningTarrowinsKeepTheirCopies();
    void copyThatCannotBeTakenIsKept_data();
    void copyThatCannotBeTakenIsKept();
    void signalLeavesTheCopyForTheNextStart_data();
    void signalLeavesTheCopyForTheNextStart();
    void storeThatCannotKeepCopiesSaysSo();
    void copyFollowsTheModifiedFlag_data();
    void copyFollowsTheModifiedFlag();
    void copyIsRenewedEveryPeriod();
    void folderFollowsXdgStateHome_data();
    void folderFollowsXdgStateHome();

   private:
    std::unique_ptr<QTemporaryDir> folder_;  // a fresh folder for every test
    QString path() const { return folder_->path(); }
    // The copy of a Tarrowin that was killed, replaced by `bytes` ("pipe": a pipe,
    // "device": a link to /dev/zero). Its path.
    QString leaveCopy(const QByteArray& bytes) {
        leaveCopyOfKilledTarrowin(path(), composedDocument(), QStringLiteral("/music/song.trw"));
        const QStringList copies = QDir(path()).entryList({QStringLiteral("*.recovery")}, QDir::Files);
        if (copies.size() != 1) qFatal("no copy left");
        const QString copy = path() + QLatin1Char('/') + copies[0];
        QFile::remove(copy);
        const QByteArray name = QFile::encodeName(copy);
        if (bytes == "pipe") {
            ::mkfifo(name.constData(), 0600);
        } else if (bytes == "device") {
            QFile::link(QStringLiteral("/dev/zero"), copy);
        } else {
            QFile f(copy);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write the copy");
        }
        return copy;
    }
    static QByteArray contentsOf(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
};

void RecoveryTest::leftCopyIsOfferedOnce_data() {
    QTest::addColumn<QString>("documentPath");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("tuned");
    QTest::newRow("yes") << QStringLiteral("/music/new\nsong.trw") << true
                         << QStringLiteral(
                                "Tarrowin did not close properly. Recover the unsaved changes to new\nsong.trw?")
                         << false;
    QTest::newRow("a tuned document") << QStringLiteral("/music/tuned.trw") << true
                                      << QStringLiteral("Tarrowin did not close properly. Recover the unsaved changes to tuned.trw?")
                                      << true;
    QTest::newRow("untitled") << QString() << true
                              << QStringLiteral(
                                     "Tarrowin did not close properly. Recover the unsaved changes to Untitled?")
                              << false;
    QTest::newRow("no") << QStringLiteral("/music/song.trw") << false
                        << QStringLiteral("Tarrowin did not close properly. Recover the unsaved changes to song.trw?")
                        << false;
}

void RecoveryTest::leftCopyIsOfferedOnce() {
    QFETCH(QString, documentPath);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(bool, tuned);
    const CTarrowinDoc left = composedDocument(tuned);
    leaveCopyOfKilledTarrowin(path(), left, documentPath);

    DocumentController document;
    const std::vector<uint8_t> untouched = serializeDocument(document.doc());
    FakePrompter prompter;
    prompter.answer = yes;
    CrashRecovery recovery(document, prompter, nullptr, path(), kNever);
    recovery.offerLeftCopies();
    QCOMPARE(prompter.questions, QStringList{question});
    QVERIFY(prompter.messages.isEmpty());
    if (yes) {
        QVERIFY(serializeDocument(document.doc()) == serializeDocument(left));
        QVERIFY(document.isModified());
        QCOMPARE(document.path(), documentPath);
        verifyCopyOf(recovery, document);  // the recovered work stays safe until it is saved
    } else {
        QVERIFY(serializeDocument(document.doc()) == untouched);
        QVERIFY(!document.isModified());
        QVERIFY(!recovery.store().hasCopy());
    }
    // Nothing of the killed Tarrowin is left: its copy, lock and temporary file are gone.
    QStringList own{QFileInfo(recovery.store().copyPath()).completeBaseName() + QStringLiteral(".lock")};
    if (yes) own << QFileInfo(recovery.store().copyPath()).fileName();
    own.sort();
    QCOMPARE(filesIn(path()), own);

    // The next Tarrowin is not asked again.
    FakePrompter later;
    DocumentController other;
    CrashRecovery(other, later, nullptr, path(), kNever).offerLeftCopies();
    QVERIFY(later.questions.isEmpty());
}

void RecoveryTest::runningTarrowinsKeepTheirCopies() {
    DocumentController first;
    FakePrompter prompter;
    auto running = std::make_unique<CrashRecovery>(first, prompter, nullptr, path(), kNever);
    editTempo(first, 200);
    running->beforePlay();
    const QString copy = running->store().copyPath();
    QVERIFY(QFile::exists(copy));
    // A Tarrowin that has run for an hour is still running.
    QFile lock(QFileInfo(copy).path() + QLatin1Char('/') + QFileInfo(copy).completeBaseName() +
               QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::ReadWrite));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    lock.close();

    DocumentController second;
    CrashRecovery starting(second, prompter, nullptr, path(), kNever);
    starting.offerLeftCopies();
    QVERIFY(prompter.questions.isEmpty());
    verifyCopyOf(*running, first);

    // A normal end removes the copy and the lock.
    running.reset();
    QCOMPARE(filesIn(path()),
             QStringList{QFileInfo(starting.store().copyPath()).completeBaseName() + QStringLiteral(".lock")});
}

void RecoveryTest::copyThatCannotBeTakenIsKept_data() {
    QTest::addColumn<QByteArray>("bytes");  // "pipe", "device" or the copy's bytes
    QTest::addColumn<bool>("otherVersion");  // left in place for that version, else moved aside
    QTest::addColumn<QString>("reason");
    const QByteArray header = QByteArrayLiteral("Tarrowin recovery copy 1\n/music/song.trw\n");
    const std::vector<uint8_t> doc = serializeDocument(composedDocument());
    const QByteArray whole(reinterpret_cast<const char*>(doc.data()), qsizetype(doc.size()));
    const float four = 4.0f;
    const QByteArray newer = QByteArray(whole).replace(0, 4, QByteArray(reinterpret_cast<const char*>(&four), 4));
    const std::vector<uint8_t> tunedDoc = serializeDocument(composedDocument(true));
    const QByteArray tuned(reinterpret_cast<const char*>(tunedDoc.data()), qsizetype(tunedDoc.size()));
    QTest::newRow("empty") << QByteArray() << false << QStringLiteral("does not begin as a recovery copy");
    QTest::newRow("a plain document") << whole << false << QStringLiteral("does not begin as a recovery copy");
    QTest::newRow("no document") << header << false << QStringLiteral("The file is empty");
    QTest::newRow("cut short") << header + whole.left(whole.size() - 100) << false << QString();
    QTest::newRow("a pipe") << QByteArray("pipe") << false << QStringLiteral("it is a pipe, not a regular file");
    QTest::newRow("a link to /dev/zero") << QByteArray("device") << false
                                         << QStringLiteral("it is a device, not a regular file");
    QTest::newRow("a newer copy format") << QByteArrayLiteral("Tarrowin recovery copy 2\n/music/song.trw\n") + whole
                                         << true << QStringLiteral("\"Tarrowin recovery copy 2\"");
    QTest::newRow("a tuned copy cut short") << header + tuned.left(tuned.size() - 10) << false
                                            << QStringLiteral("in the tuning");
    QTest::newRow("a newer document version") << header + newer << true << QStringLiteral("Unknown document version 4");
}

void RecoveryTest::copyThatCannotBeTakenIsKept() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, otherVersion);
    QFETCH(QString, reason);
    const QString copy = leaveCopy(bytes);
    const QString kept =
        otherVersion ? copy : path() + QLatin1Char('/') + QFileInfo(copy).completeBaseName() + QStringLiteral(".unreadable");
    const QString said =
        otherVersion ? QStringLiteral("Tarrowin found a recovery copy of unsaved changes written by another version of "
                                      "Tarrowin, and left it for that version: ") + copy
                     : QStringLiteral("Tarrowin found a recovery copy of unsaved changes that it cannot read. It was "
                                      "moved to ") + kept + QLatin1Char('.');
    // Another version's copy is named at every start until that version takes it; one moved
    // aside is not offered again.
    for (int start = 0; start < 2; ++start) {
        DocumentController document;
        FakePrompter prompter;
        CrashRecovery(document, prompter, nullptr, path(), kNever).offerLeftCopies();
        QVERIFY(prompter.questions.isEmpty());
        QVERIFY(!document.isModified());
        QCOMPARE(prompter.messages.size(), start == 0 || otherVersion ? 1 : 0);
        if (!prompter.messages.isEmpty()) {
            QVERIFY2(prompter.messages[0].startsWith(said) && prompter.messages[0].contains(reason),
                     qPrintable(prompter.messages[0]));
        }
        // What was there is there still.
        if (bytes == "pipe")
            QVERIFY(QFileInfo(kept).exists() && !QFileInfo(kept).isFile());
        else if (bytes == "device")
            QCOMPARE(QFileInfo(kept).symLinkTarget(), QStringLiteral("/dev/zero"));
        else
            QCOMPARE(contentsOf(kept), bytes);
        if (!otherVersion) QVERIFY(!QFileInfo(copy).exists() && !QFileInfo(copy).isSymLink());
    }
}

void RecoveryTest::copyFollowsTheModifiedFlag_data() {
    QTest::addColumn<QString>("what");
    for (const char* what : {"Save", "Undo to the saved state", "New", "Open"})
        QTest::newRow(what) << QString::fromLatin1(what);
}

void RecoveryTest::copyFollowsTheModifiedFlag() {
    QFETCH(QString, what);
    QTemporaryDir files;
    const QString song = files.filePath(QStringLiteral("song.trw"));
    DocumentController document;
    QVERIFY(document.save(song).ok);
    FakePrompter prompter;
    CrashRecovery recovery(document, prompter, nullptr, path(), kNever);
    editTempo(document, 150);
    QVERIFY(!recovery.store().hasCopy());  // the period has not passed
    recovery.beforePlay();
    verifyCopyOf(recovery, document);

    if (what == QLatin1String("Save"))
        QVERIFY(document.save(song).ok);
    else if (what == QLatin1String("Undo to the saved state"))
        document.undo();
    else if (what == QLatin1String("New"))
        document.newDocument();
    else
        QVERIFY(document.open(song).ok);
    QVERIFY(!document.isModified());
    QVERIFY(!recovery.store().hasCopy());
    QVERIFY(!QFile::exists(recovery.store().copyPath()));
}

void RecoveryTest::copyIsRenewedEveryPeriod() {
    DocumentController document;
    FakePrompter prompter;
    CrashRecovery recovery(document, prompter, nullptr, path(), std::chrono::milliseconds(20));
    editTempo(document, 150);
    QTRY_VERIFY(recovery.store().hasCopy());
    verifyCopyOf(recovery, document);
    editTempo(document, 151);
    QTRY_VERIFY(readRecoveryCopy(recovery.store().copyPath()).doc.global().tempo == 151);
    verifyCopyOf(recovery, document);
}

void RecoveryTest::folderFollowsXdgStateHome_data() {
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("folder");
    const QString home = QDir::homePath();
    QTest::newRow("set") << QByteArray("/var/state") << QStringLiteral("/var/state/tarrowin/recovery");
    QTest::newRow("unset") << QByteArray() << home + QStringLiteral("/.local/state/tarrowin/recovery");
    QTest::newRow("relative") << QByteArray("state") << home + QStringLiteral("/.local/state/tarrowin/recovery");
}

void RecoveryTest::folderFollowsXdgStateHome() {
    QFETCH(QByteArray, state);
    QFETCH(QString, folder);
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state);
    const QString found = RecoveryStore::defaultFolder();
    qputenv("XDG_STATE_HOME", saved);
    QCOMPARE(found, folder);
}

void RecoveryTest::signalLeavesTheCopyForTheNextStart_data() {
    QTest::addColumn<QString>("when");
    for (const char* when : {"while editing", "during the recovery question", "when no copy can be written"})
        QTest::newRow(when) << QString::fromLatin1(when);
}

void RecoveryTest::signalLeavesTheCopyForTheNextStart() {
    QFETCH(QString, when);
    DocumentController document;
    FakePrompter prompter;
    auto ended = std::make_unique<CrashRecovery>(document, prompter, nullptr, path(), kNever);
    editTempo(document, 177);  // not yet in a copy: the period has not passed
    const QString copy = ended->store().copyPath();
    const QString lock = path() + QLatin1Char('/') + QFileInfo(copy).completeBaseName() + QStringLiteral(".lock");
    QVERIFY(QFile::exists(lock));
    if (when == QLatin1String("when no copy can be written")) {
        // The program ends all the same, without a question that would hold it up.
        QVERIFY(QDir().mkdir(copy));
        ended->keepForNextStart();
        QVERIFY(prompter.messages.isEmpty());
        QVERIFY(!QFile::exists(lock));
        return;
    }
    if (when == QLatin1String("during the recovery question")) {
        ended->beforePlay();
        ended->keepForNextStart();
        ended.reset();
        // The next start is ended while it asks: No is not the answer, the copy stays.
        DocumentController next;
        struct EndedWhileAsking : FakePrompter {
            CrashRecovery* recovery = nullptr;
            bool ask(const std::string& text, const std::string& caption) override {
                recovery->keepForNextStart();
                FakePrompter::ask(text, caption);
                return false;
            }
        } asking;
        asking.answer = false;
        CrashRecovery starting(next, asking, nullptr, path(), kNever);
        asking.recovery = &starting;
        starting.offerLeftCopies();
        QCOMPARE(asking.questions.size(), 1);
    } else {
        ended->keepForNextStart();
        QVERIFY(!QFile::exists(lock));
        ended.reset();  // the end of the program does not remove the copy
    }
    DocumentController later;
    FakePrompter next;
    CrashRecovery recovery(later, next, nullptr, path(), kNever);
    recovery.offerLeftCopies();
    QCOMPARE(next.questions.size(), 1);
    QCOMPARE(later.doc().global().tempo, 177);
    QVERIFY(later.isModified());
}

void RecoveryTest::storeThatCannotKeepCopiesSaysSo() {
    // A file where the folder should be: the folder cannot be made, as on a full disk.
    const QString blocker = path() + QStringLiteral("/state");
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    DocumentController document;
    FakePrompter prompter;
    CrashRecovery recovery(document, prompter, nullptr, blocker + QStringLiteral("/recovery"), kNever);
    QSignalSpy changed(&recovery, &CrashRecovery::problemChanged);
    QVERIFY(recovery.problem().startsWith(QStringLiteral("Cannot make the folder ") + blocker));
    recovery.start();
    QCOMPARE(prompter.messages, QStringList{recoveryProblemMessage(recovery.problem())});

    // Copies are tried again: once the folder can be made, they are kept and the problem is gone.
    editTempo(document, 150);
    recovery.beforePlay();
    QCOMPARE(prompter.messages.size(), 1);  // said once
    QVERIFY(QFile::remove(blocker));
    recovery.beforePlay();
    QVERIFY(recovery.problem().isEmpty());
    verifyCopyOf(recovery, document);

    // A copy that cannot be written says so once, as it arises, and until one is written.
    const QString copy = recovery.store().copyPath();
    QVERIFY(QFile::remove(copy) && QDir().mkdir(copy));
    editTempo(document, 151);
    recovery.beforePlay();
    recovery.beforePlay();
    QVERIFY2(recovery.problem().startsWith(QStringLiteral("Cannot write ") + copy), qPrintable(recovery.problem()));
    QCOMPARE(prompter.messages.size(), 2);
    QCOMPARE(prompter.messages[1], recoveryProblemMessage(recovery.problem()));
    QVERIFY(QDir().rmdir(copy));
    editTempo(document, 152);
    recovery.beforePlay();
    QVERIFY(recovery.problem().isEmpty());
    QCOMPARE(changed.count(), 3);  // cleared, failed, cleared

    // The main window says it in its status bar for as long as it lasts.
    QFile stateFile(path() + QStringLiteral("/stateFile"));
    QVERIFY(stateFile.open(QIODevice::WriteOnly));
    stateFile.close();
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateFile.fileName()));
    testing::RecordedWorkspace recorded;
    MainWindow window(*recorded.ws);
    qputenv("XDG_STATE_HOME", state);
    QLabel* off = nullptr;
    for (QLabel* l : window.findChildren<QLabel*>())
        if (l->text() == QStringLiteral("Recovery copies off")) off = l;
    QVERIFY(off && !off->isHidden());
    QVERIFY(!window.recovery().problem().isEmpty());
    QCOMPARE(off->toolTip(), window.recovery().problem());
}

TARROWIN_QTEST_MAIN(RecoveryTest)
#include "recovery_test.moc"
