#pragma once
// The recovery copies of modified documents, kept in $XDG_STATE_HOME/tarrowin/recovery so a
// Tarrowin that is killed or crashes can give its unsaved work back at the next start.
//
// Every running Tarrowin has its own id and holds the lock file <id>.lock (a QLockFile,
// whose owner is known to be gone when its process no longer runs). Its copy is
// <id>.recovery: a header line, the path of the document it belongs to, then the
// document's .trw bytes, written under a temporary name and renamed into place, so a copy
// is always whole. A copy whose lock is stale was left by a Tarrowin that did not end
// cleanly; a running Tarrowin's copy is never touched by another. Unsaved work is never
// deleted unread: a copy that cannot be read is moved aside to <id>.unreadable, and a copy
// written by another version of Tarrowin is left for that version.

#include <QDateTime>
#include <QString>
#include <map>
#include <memory>
#include <vector>

#include "document/document.h"

class QLockFile;

namespace tarrowin::app {

// A copy left by a Tarrowin that is gone, claimed by this one until it is discarded,
// taken over or released.
struct LeftCopy {
    QString id;
    QDateTime written;
};

// What a copy holds.
struct RecoveredDocument {
    bool ok = false;
    QString message;       // why the copy cannot be used, when !ok
    bool otherVersion = false;  // !ok because another version of Tarrowin wrote it
    QString documentPath;  // empty: a document never saved
    CTarrowinDoc doc;
};

// The bytes of a copy of `doc`, which belongs to `documentPath`, and their reading. A copy
// that is damaged in any way, or is no regular file of a sensible size (a pipe, a link to a
// device), reads as !ok with the reason, without waiting on it.
std::vector<uint8_t> recoveryCopyBytes(const CTarrowinDoc& doc, const QString& documentPath);
RecoveredDocument readRecoveryCopy(const QString& file);

class RecoveryStore {
   public:
    // $XDG_STATE_HOME/tarrowin/recovery; ~/.local/state when the variable is unset or not
    // an absolute path.
    static QString defaultFolder();

    // Makes the folder (private to the user) and takes this Tarrowin's lock in it (see
    // prepare()).
    explicit RecoveryStore(const QString& folder = defaultFolder());
    // The end of a Tarrowin that closed normally: its copy and its lock go; copies it
    // claimed and did not settle are left for the next start.
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // False (see error()) when the folder or the lock could not be made: nothing is kept.
    bool isReady() const { return ready_; }
    // Tries again to make the folder and take the lock (the disk may have room now).
    bool prepare();
    const QString& error() const { return error_; }
    const QString& folder() const { return folder_; }
    QString copyPath() const { return fileOf(id_, kCopySuffix); }

    // Replaces this Tarrowin's copy with one of `doc`; nothing is written when the copy
    // already holds exactly that. False (see error()) when it could not be written.
    bool write(const CTarrowinDoc& doc, const QString& documentPath);
    // Removes this Tarrowin's copy, if there is one.
    void remove();
    bool hasCopy() const { return hasCopy_; }

    // The copies of Tarrowins that are gone, the newest first. Each is claimed (its lock is
    // held), so a Tarrowin starting at the same time does not offer it too. Leftovers of a
    // gone Tarrowin that hold no copy (a lock, an unfinished temporary file) are removed.
    std::vector<LeftCopy> claimLeftCopies();
    RecoveredDocument read(const LeftCopy& left) const;
    QString pathOf(const LeftCopy& left) const { return fileOf(left.id, kCopySuffix); }
    // Deletes the copy (its owner said No to it).
    void discard(const LeftCopy& left);
    // Moves a copy that cannot be read out of the way, to <id>.unreadable in the same folder
    // (a number added when that is taken), and lets it go. The new path; empty (see
    // error()) when it could not be moved, and then it stays where it is.
    QString setAside(const LeftCopy& left);
    // Makes the copy this Tarrowin's own (the recovered document is now the open one).
    bool takeOver(const LeftCopy& left);
    // Leaves the copy for the next start.
    void release(const LeftCopy& left);

    // The program is being ended (a session manager, a logout): this Tarrowin's copy stays
    // and its lock goes, so the next start offers the copy as one left by a Tarrowin that
    // did not end cleanly. The claimed copies are left too. Nothing is written afterwards.
    void keepForNextStart();

   private:
    static constexpr const char* kCopySuffix = ".recovery";
    static constexpr const char* kLockSuffix = ".lock";
    static constexpr const char* kUnreadableSuffix = ".unreadable";
    QString fileOf(const QString& id, const char* suffix) const;
    void removeTemporaryFiles(const QString& id) const;
    void unclaim(const QString& id);

    QString folder_;
    QString id_;
    std::unique_ptr<QLockFile> lock_;
    std::map<QString, std::unique_ptr<QLockFile>> claimed_;
    bool ready_ = false;
    bool kept_ = false;  // keepForNextStart() was called
    bool hasCopy_ = false;
    std::vector<uint8_t> written_;  // what write() last put in the copy; empty when not known
    QString error_;
};

}  // namespace tarrowin::app
