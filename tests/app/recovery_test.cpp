// Recovery copies: a copy left by a Tarrowin that is gone is offered once and recovered or
// deleted, a running Tarrowin's copy is never taken, a damaged copy is reported and removed,
// and a copy follows the modified flag of the document.
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/document_controller.h"
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
    void damagedCopyIsReportedAndRemoved_data();
    void damagedCopyIsReportedAndRemoved();
    void copyFollowsTheModifiedFlag_data();
    void copyFollowsTheModifiedFlag();
    void copyIsRenewedEveryPeriod();
    void folderFollowsXdgStateHome_data();
    void folderFollowsXdgStateHome();

   private:
    std::unique_ptr<QTemporaryDir> folder_;  // a fresh folder for every test
    QString path() const { return folder_->path(); }
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

void RecoveryTest::damagedCopyIsReportedAndRemoved_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray header = QByteArrayLiteral("Tarrowin recovery copy 1\n/music/song.trw\n");
    const std::vector<uint8_t> doc = serializeDocument(composedDocument());
    const QByteArray whole(reinterpret_cast<const char*>(doc.data()), qsizetype(doc.size()));
    QTest::newRow("empty") << QByteArray() << QStringLiteral("does not begin as a recovery copy");
    QTest::newRow("a plain document") << whole << QStringLiteral("does not begin as a recovery copy");
    QTest::newRow("no document") << header << QStringLiteral("The file is empty");
    QTest::newRow("cut short") << header + whole.left(whole.size() - 100) << QString();
}

void RecoveryTest::damagedCopyIsReportedAndRemoved() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    // A copy without a lock: its Tarrowin is gone.
    QFile damaged(path() + QStringLiteral("/4242-deadbeef.recovery"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(bytes);
    damaged.close();

    DocumentController document;
    FakePrompter prompter;
    CrashRecovery recovery(document, prompter, nullptr, path(), kNever);
    recovery.offerLeftCopies();
    QVERIFY(prompter.questions.isEmpty());
    QCOMPARE(prompter.messages.size(), 1);
    QVERIFY2(prompter.messages[0].startsWith(QStringLiteral(
                 "Tarrowin found a recovery copy of unsaved changes that it cannot read, and removed it.")),
             qPrintable(prompter.messages[0]));
    QVERIFY2(prompter.messages[0].contains(reason), qPrintable(prompter.messages[0]));
    QVERIFY(!damaged.exists());
    QVERIFY(!document.isModified());
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

TARROWIN_QTEST_MAIN(RecoveryTest)
#include "recovery_test.moc"
