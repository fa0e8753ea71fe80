#pragma once
// Keeps a recovery copy of the open document while it is modified (every period and before
// a play starts) and removes it once the document is no longer modified (saved, New, Open,
// undone to its saved state) and at a normal end. At start it offers the copies of
// Tarrowins that did not end cleanly. When no copy can be kept (no room on the disk, a
// folder that cannot be made, a file size limit), the user is told, since the unsaved work
// is then unprotected.

#include <QObject>
#include <QTimer>
#include <chrono>

#include "recovery_store.h"

namespace tarrowin {
class Prompter;
}

namespace tarrowin::app {

class DocumentController;

class CrashRecovery : public QObject {
    Q_OBJECT
   public:
    // 60 s between copies; TARROWIN_RECOVERY_SECONDS (a whole number of seconds) shortens
    // it for the tests.
    static std::chrono::milliseconds defaultPeriod();

    CrashRecovery(DocumentController& document, Prompter& prompter, QObject* parent = nullptr,
                  const QString& folder = RecoveryStore::defaultFolder(),
                  std::chrono::milliseconds period = defaultPeriod());

    // The start of the program: says so when no copies can be kept, then offers the copies
    // left behind (offerLeftCopies).
    void start();
    // A play is about to start: the copy is brought up to date now.
    void beforePlay();
    // "Tarrowin did not close properly. Recover the unsaved changes to song.trw?" for the
    // newest copy left behind: Yes makes it the open document (modified, saving to its
    // own path), No deletes it. A copy that cannot be read is moved aside and reported, one
    // written by another version of Tarrowin is reported and left alone. Older copies wait
    // for the next start once one was recovered.
    void offerLeftCopies();
    // The program is being ended by a signal: the copy is brought up to date and left, with
    // the lock released, for the next start to offer. Nothing is written afterwards.
    void keepForNextStart();

    // Empty while copies are kept; else why not (the store's reason).
    QString problem() const { return problem_; }
    const RecoveryStore& store() const { return store_; }

   Q_SIGNALS:
    void problemChanged(const QString& problem);

   private:
    void documentStateChanged();
    void writeCopy();
    bool storeCopy();
    void setProblem(const QString& problem);

    DocumentController& document_;
    Prompter& prompter_;
    RecoveryStore store_;
    QTimer timer_;
    QString problem_;
    bool ending_ = false;
};

// The message of a problem with the copies, for the user.
QString recoveryProblemMessage(const QString& problem);

}  // namespace tarrowin::app
