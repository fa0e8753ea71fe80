#include "recovery_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <span>

#include "document/document_file.h"
#include "document/replacing_file.h"

namespace tarrowin::app {

namespace {

const QByteArray kHeader = QByteArrayLiteral("Tarrowin recovery copy 1\n");
// Far above the largest document (1000 events of 16 voices): anything larger is damaged.
constexpr qint64 kMaxCopySize = qint64{64} << 20;

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
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        r.message = f.errorString();
        return r;
    }
    if (f.size() > kMaxCopySize) {
        r.message = QStringLiteral("The copy is far too large.");
        return r;
    }
    const QByteArray bytes = f.readAll();
    const qsizetype pathEnd = bytes.indexOf('\n', kHeader.size());
    if (!bytes.startsWith(kHeader) || pathEnd < 0) {
        r.message = QStringLiteral("The copy does not begin as a recovery copy does.");
        return r;
    }
    r.documentPath = QUrl::fromPercentEncoding(bytes.mid(kHeader.size(), pathEnd - kHeader.size()));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const std::span<const uint8_t> document(data + pathEnd + 1, static_cast<size_t>(bytes.size() - pathEnd - 1));
    const FileResult parsed = parseDocument(document, r.doc);
    r.ok = parsed.ok;
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
    if (!QDir().mkpath(folder_)) {
        error_ = QStringLiteral("Cannot make the folder %1").arg(folder_);
        return;
    }
    QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    lock_ = lockFile(fileOf(id_, kLockSuffix));
    if (!lock_->tryLock(0)) {
        error_ = QStringLiteral("Cannot lock %1").arg(fileOf(id_, kLockSuffix));
        return;
    }
    ready_ = true;
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
    for (const QFileInfo& f : QDir(folder_).entryInfoList(
             {QStringLiteral("*") + QLatin1String(kCopySuffix), QStringLiteral("*") + QLatin1String(kLockSuffix)},
             QDir::Files)) {
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

RecoveredDocument RecoveryStore::read(const LeftCopy& left) const {
    return readRecoveryCopy(fileOf(left.id, kCopySuffix));
}

void RecoveryStore::unclaim(const QString& id) { claimed_.erase(id); }  // the lock file goes with its lock

void RecoveryStore::discard(const LeftCopy& left) {
    QFile::remove(fileOf(left.id, kCopySuffix));
    unclaim(left.id);
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

}  // namespace tarrowin::app
