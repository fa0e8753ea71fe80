#include "recovery_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "document/document_file.h"
#include "document/replacing_file.h"

namespace tarrowin::app {

namespace {

const QByteArray kHeaderStart = QByteArrayLiteral("Tarrowin recovery copy ");
const QByteArray kHeader = kHeaderStart + QByteArrayLiteral("1\n");
// Far above the largest document (1000 events of 16 voices): anything larger is damaged.
constexpr size_t kMaxCopySize = kMaxDocumentFileSize;

// Whether a document's first bytes are the version of a newer file than any this Tarrowin
// writes (2.5, or 3.0 with a tuning): a copy that only a newer Tarrowin can read.
bool newerDocumentVersion(std::span<const uint8_t> document) {
    if (document.size() < sizeof(float)) return false;
    float version = 0;
    std::memcpy(&version, document.data(), sizeof version);
    return std::isfinite(version) && version > kTunedFileVersion && version < 100.0f;
}

// A lock that is never stale by its age: only a gone owner makes it stale.
std::unique_ptr<QLockFile> lockFile(const QString& path) {
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    return lock;
}

}  // namespace

std::vector<uint8_t> recoveryCopyBytes(const CTarrowinDoc& doc, const QString& documentPath) {
    // The path is percent-encoded, so any file name fits on its line.
    const QByteArray path = QUrl::toPercentEncoding(documentPath, "/") + '\n';
    const std::vector<uint8_t> document = serializeDocument(doc);
    std::vector<uint8_t> bytes(kHeader.begin(), kHeader.end());
    bytes.insert(bytes.end(), path.begin(), path.end());
    bytes.insert(bytes.end(), document.begin(), document.end());
    return bytes;
}

RecoveredDocument readRecoveryCopy(const QString& file) {
    RecoveredDocument r;
    std::vector<uint8_t> read;
    if (const std::string why = readRegularFile(QFile::encodeName(file).toStdString(), kMaxCopySize, read);
        !why.empty()) {
        r.message = QString::fromStdString(why);
        return r;
    }
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(read.data()), qsizetype(read.size()));
    const qsizetype headerEnd = bytes.indexOf('\n');
    if (bytes.startsWith(kHeaderStart) && !bytes.startsWith(kHeader) && headerEnd > 0) {
        r.otherVersion = true;
        r.message = QStringLiteral("It is a copy of the format \"%1\"; this Tarrowin reads \"%2\".")
                        .arg(QString::fromUtf8(bytes.left(headerEnd)), QString::fromUtf8(kHeader.chopped(1)));
        return r;
    }
    const qsizetype pathEnd = bytes.indexOf('\n', kHeader.size());
    if (!bytes.startsWith(kHeader) || pathEnd < 0) {
        r.message = QStringLiteral("The copy does not begin as a recovery copy does.");
        return r;
    }
    r.documentPath = QUrl::fromPercentEncoding(bytes.mid(kHeader.size(), pathEnd - kHeader.size()));
    const std::span<const uint8_t> document(read.data() + pathEnd + 1, read.size() - static_cast<size_t>(pathEnd) - 1);
    const FileResult parsed = parseDocument(document, r.doc);
    r.ok = parsed.ok;
    r.otherVersion = !r.ok && newerDocumentVersion(document);
    r.message = QString::fromStdString(parsed.message);
    return r;
}

QString RecoveryStore::defaultFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tarrowin/recovery");
}

RecoveryStore::RecoveryStore(const QString& folder)
    : folder_(QDir::cleanPath(folder)),
      id_(QStringLiteral("%1-%2")
              .arg(QCoreApplication::applicationPid())
              .arg(QUuid::createUuid().toString(QUuid::Id128).left(12))) {
    prepare();
}

bool RecoveryStore::prepare() {
    if (ready_ || kept_) return ready_;
    errno = 0;
    if (!QDir().mkpath(folder_)) {
        const int why = errno;
        error_ = QStringLiteral("Cannot make the folder %1").arg(folder_);
        if (why != 0) error_ += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(why));
        return false;
    }
    QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    lock_ = lockFile(fileOf(id_, kLockSuffix));
    if (!lock_->tryLock(0)) {
        const QString why = lock_->error() == QLockFile::PermissionError ? QStringLiteral("it cannot be written there")
                                                                         : QStringLiteral("the disk may be full");
        error_ = QStringLiteral("Cannot lock %1: %2").arg(fileOf(id_, kLockSuffix), why);
        lock_.reset();
        return false;
    }
    error_.clear();
    ready_ = true;
    return true;
}

RecoveryStore::~RecoveryStore() { remove(); }

QString RecoveryStore::fileOf(const QString& id, const char* suffix) const {
    return folder_ + QLatin1Char('/') + id + QLatin1String(suffix);
}

bool RecoveryStore::write(const CTarrowinDoc& doc, const QString& documentPath) {
    if (!ready_) return false;
    std::vector<uint8_t> bytes = recoveryCopyBytes(doc, documentPath);
    if (hasCopy_ && bytes == written_) return true;
    ReplacingFile file;
    if (!file.open(copyPath().toStdString()) || !file.write(bytes.data(), bytes.size()) || !file.commit()) {
        error_ = QStringLiteral("Cannot write %1: %2").arg(copyPath(), QString::fromStdString(file.error()));
        return false;
    }
    written_ = std::move(bytes);
    hasCopy_ = true;
    return true;
}

void RecoveryStore::remove() {
    if (!hasCopy_) return;
    QFile::remove(copyPath());
    hasCopy_ = false;
    written_.clear();
}

std::vector<LeftCopy> RecoveryStore::claimLeftCopies() {
    std::vector<LeftCopy> left;
    if (!ready_) return left;
    QStringList ids;
    // System: a pipe or a link to a device left as a copy is found too, and set aside.
    for (const QFileInfo& f : QDir(folder_).entryInfoList(
             {QStringLiteral("*") + QLatin1String(kCopySuffix), QStringLiteral("*") + QLatin1String(kLockSuffix)},
             QDir::Files | QDir::System)) {
        if (!ids.contains(f.completeBaseName())) ids << f.completeBaseName();
    }
    for (const QString& id : ids) {
        if (id == id_ || claimed_.count(id)) continue;
        auto lock = lockFile(fileOf(id, kLockSuffix));
        if (!lock->tryLock(0)) continue;  // its Tarrowin is running
        removeTemporaryFiles(id);
        const QFileInfo copy(fileOf(id, kCopySuffix));
        if (!copy.exists()) continue;  // a lock without a copy: the lock goes with `lock`
        claimed_[id] = std::move(lock);
        left.push_back({id, copy.lastModified()});
    }
    std::sort(left.begin(), left.end(), [](const LeftCopy& a, const LeftCopy& b) { return a.written > b.written; });
    return left;
}

void RecoveryStore::removeTemporaryFiles(const QString& id) const {
    // An unfinished write of the copy: a hidden temporary file beside it, named after it.
    // The id is unique, so whatever hidden file carries it belonged to that Tarrowin.
    const QString pattern = QStringLiteral(".*%1*").arg(id);
    QDir dir(folder_);
    for (const QString& name : dir.entryList({pattern}, QDir::Files | QDir::Hidden)) dir.remove(name);
}

RecoveredDocument RecoveryStore::read(const LeftCopy& left) const { return readRecoveryCopy(pathOf(left)); }

void RecoveryStore::unclaim(const QString& id) { claimed_.erase(id); }  // the lock file goes with its lock

void RecoveryStore::discard(const LeftCopy& left) {
    QFile::remove(fileOf(left.id, kCopySuffix));
    unclaim(left.id);
}

QString RecoveryStore::setAside(const LeftCopy& left) {
    QString aside = fileOf(left.id, kUnreadableSuffix);
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = fileOf(QStringLiteral("%1-%2").arg(left.id).arg(n), kUnreadableSuffix);
    // rename() moves a pipe or a link as it is, without opening it.
    const bool moved = std::rename(QFile::encodeName(fileOf(left.id, kCopySuffix)).constData(),
                                   QFile::encodeName(aside).constData()) == 0;
    if (!moved) error_ = QString::fromLocal8Bit(std::strerror(errno));
    unclaim(left.id);
    return moved ? aside : QString();
}

bool RecoveryStore::takeOver(const LeftCopy& left) {
    if (!ready_ || !claimed_.count(left.id)) return false;
    remove();
    // rename() replaces atomically; the copy is never absent on the way.
    const bool moved = std::rename(QFile::encodeName(fileOf(left.id, kCopySuffix)).constData(),
                                   QFile::encodeName(copyPath()).constData()) == 0;
    hasCopy_ = moved;
    unclaim(left.id);
    return moved;
}

void RecoveryStore::release(const LeftCopy& left) { unclaim(left.id); }

void RecoveryStore::keepForNextStart() {
    claimed_.clear();
    lock_.reset();  // a QLockFile removes its file as it goes
    ready_ = false;
    kept_ = true;
    hasCopy_ = false;
    written_.clear();
}

}  // namespace tarrowin::app
