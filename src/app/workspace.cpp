#include "workspace.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

#include "document/document_file.h"
#include "document/replacing_file.h"

namespace tarrowin::app {

namespace {
const QString kRecentKey = QStringLiteral("recentFiles");
const QString kPlayerKey = QStringLiteral("midiPlayer");
const QString kSoundFontKey = QStringLiteral("soundFont");
const QString kNotesZoomKey = QStringLiteral("notesZoom");
const QString kThemeKey = QStringLiteral("theme");
QString geometryKey(const QString& window) { return QStringLiteral("windows/%1").arg(window); }
const QString kRemoteKey = QStringLiteral("remoteControl/");

// A stored port outside min..65535 (or no number) reads as `fallback`.
int portSetting(const QVariant& stored, int fallback, int min) {
    bool ok = false;
    const int port = stored.toInt(&ok);
    return stored.isValid() && ok && port >= min && port <= 65535 ? port : fallback;
}

// Why the files QSettings would read for this program cannot be read safely, or empty.
// They are the user's and the system's <organization>/<application>.conf and
// <organization>.conf in the configuration folders.
QString settingsFileProblem() {
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    if (organization.isEmpty()) return {};  // QSettings reads no file then
    QStringList files;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        files << QStringLiteral("%1/%2/%3.conf").arg(folder, organization, application)
              << QStringLiteral("%1/%2.conf").arg(folder, organization);
    }
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.exists() && !info.isSymLink()) continue;
        std::vector<uint8_t> bytes;
        const std::string why = readRegularFile(QFile::encodeName(file).toStdString(), kMaxDocumentFileSize, bytes);
        if (!why.empty()) return QStringLiteral("%1: %2").arg(file, QString::fromStdString(why));
    }
    return {};
}
const QString kSyncKey = QStringLiteral("sync");
const QString kMidiClockKey = QStringLiteral("sendMidiClock");
const QString kEditWhilePlayingKey = QStringLiteral("editWhilePlaying");
}  // namespace

Preferences::Preferences() : problem_(settingsFileProblem()) {
    if (!problem_.isEmpty()) qWarning("tarrowin: settings not read: %s", qPrintable(problem_));
}

QVariant Preferences::value(const QString& key) const {
    return problem_.isEmpty() ? QSettings().value(key) : memory_.value(key);
}

void Preferences::setValue(const QString& key, const QVariant& value) {
    if (problem_.isEmpty())
        QSettings().setValue(key, value);
    else
        memory_.insert(key, value);
}

QStringList Preferences::recentFiles() const {
    QStringList files;
    for (const QString& f : value(kRecentKey).toStringList()) {
        // Documents only: a pipe, a device or a folder that a document was saved to is none.
        if (QFileInfo(f).isFile() && !files.contains(f)) files << f;
        if (files.size() == kRecentFiles) break;
    }
    return files;
}

void Preferences::addRecentFile(const QString& path) {
    if (!QFileInfo(path).isFile()) return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = value(kRecentKey).toStringList();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > kRecentFiles) files.removeLast();
    setValue(kRecentKey, files);
}

QString Preferences::midiPlayer() const { return value(kPlayerKey).toString(); }
void Preferences::setMidiPlayer(const QString& command) { setValue(kPlayerKey, command.trimmed()); }
QString Preferences::soundFont() const { return value(kSoundFontKey).toString(); }
void Preferences::setSoundFont(const QString& path) { setValue(kSoundFontKey, path); }
QByteArray Preferences::windowGeometry(const QString& name) const { return value(geometryKey(name)).toByteArray(); }
void Preferences::setWindowGeometry(const QString& name, const QByteArray& geometry) {
    setValue(geometryKey(name), geometry);
}
double Preferences::notesZoom() const { return std::max(0.0, value(kNotesZoomKey).toDouble()); }
void Preferences::setNotesZoom(double pixelsPerTick) { setValue(kNotesZoomKey, pixelsPerTick); }
QString Preferences::theme() const { return value(kThemeKey).toString(); }
void Preferences::setTheme(const QString& name) { setValue(kThemeKey, name); }

RemoteSettings Preferences::remoteControl() const {
    RemoteSettings r;
    r.enabled = value(kRemoteKey + QStringLiteral("enabled")).toBool();
    r.port = portSetting(value(kRemoteKey + QStringLiteral("port")), RemoteSettings::kDefaultPort, 1);
    r.allNetworks = value(kRemoteKey + QStringLiteral("allNetworks")).toBool();
    r.answerPort = portSetting(value(kRemoteKey + QStringLiteral("answerPort")), 0, 0);
    return r;
}

void Preferences::setRemoteControl(const RemoteSettings& r) {
    setValue(kRemoteKey + QStringLiteral("enabled"), r.enabled);
    setValue(kRemoteKey + QStringLiteral("port"), r.port);
    setValue(kRemoteKey + QStringLiteral("allNetworks"), r.allNetworks);
    setValue(kRemoteKey + QStringLiteral("answerPort"), r.answerPort);
}

SyncMode Preferences::syncMode() const {
    // A setting this version does not know plays on the own clock.
    return syncModeNamed(value(kSyncKey).toString().toStdString()).value_or(SyncMode::Internal);
}
void Preferences::setSyncMode(SyncMode mode) { setValue(kSyncKey, QString::fromLatin1(syncModeName(mode))); }
bool Preferences::sendMidiClock() const { return value(kMidiClockKey).toBool(); }
void Preferences::setSendMidiClock(bool on) { setValue(kMidiClockKey, on); }
bool Preferences::editWhilePlaying() const { return value(kEditWhilePlayingKey).toBool(); }
void Preferences::setEditWhilePlaying(bool on) { setValue(kEditWhilePlayingKey, on); }

Workspace::Workspace(std::unique_ptr<MidiOutput> output, Clock& clock, PlayerOptions options)
    : playback(std::move(output), clock, options), session(document, playback) {
    playback.setSyncMode(preferences.syncMode());
    playback.setSendsMidiClock(preferences.sendMidiClock());
    playback.setEditWhilePlaying(preferences.editWhilePlaying());
}

void Workspace::seedRandomizer() {
    seedInUse_ = fixedSeed ? *fixedSeed : UniformRandom::timeSeed();
    random.setSeed(seedInUse_);
}

}  // namespace tarrowin::app
