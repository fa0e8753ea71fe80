#pragma once
// Keeps a recovery copy of the open document while it is modified (every period and before
// a play starts) and removes it once the document is no longer modified (saved, New, Open,
// undone to its saved state) and at a normal end. At start it offers the copies of
// Tarrowins that did not end cleanly.

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

    // A play is about to start: the copy is brought up to date now.
    void beforePlay();
    // "Tarrowin did not close properly. Recover the unsaved changes to song.trw?" for the
    // newest copy left behind: Yes makes it the open document (modified, saving to its
    // own path), No deletes it. A copy that cannot be read is reported and deleted.
    // Older copies wait for the next start once one was recovered.
    void offerLeftCopies();

    const RecoveryStore& store() const { return store_; }

   private:
    void documentStateChanged();
    void writeCopy();

    DocumentController& document_;
    Prompter& prompter_;
    RecoveryStore store_;
    QTimer timer_;
};

}  // namespace tarrowin::app
