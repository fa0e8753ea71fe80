#include "workspace.h"

#include <QFileInfo>
#include <QSettings>
#include <algorithm>

namespace tarrowin::app {

namespace {
const QString kRecentKey = QStringLiteral("recentFiles");
const QString kPlayerKey = QStringLiteral("midiPlayer");
const QString kSoundFontKey = QStringLiteral("soundFont");
const QString kNotesZoomKey = QStringLiteral("notesZoom");
const QString kThemeKey = QStringLiteral("theme");
QString geometryKey(const QString& window) { return QStringLiteral("windows/%1").arg(window); }
const QString kRemoteKey = QStringLiteral("remoteControl/");

int portSetting(const QSettings& s, const QString& key, int fallback, int min) {
    bool ok = false;
    const int port = s.value(kRemoteKey + key, fallback).toInt(&ok);
    return ok && port >= min && port <= 65535 ? port : fallback;
}
}  // namespace

QStringList Preferences::recentFiles() const {
    QStringList files;
    for (const QString& f : QSettings().value(kRecentKey).toStringList()) {
        if (QFileInfo::exists(f) && !files.contains(f)) files << f;
        if (files.size() == kRecentFiles) break;
    }
    return files;
}

void Preferences::addRecentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = QSettings().value(kRecentKey).toStringList();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > kRecentFiles) files.removeLast();
    QSettings().setValue(kRecentKey, files);
}

QString Preferences::midiPlayer() const { return QSettings().value(kPlayerKey).toString(); }
void Preferences::setMidiPlayer(const QString& command) { QSettings().setValue(kPlayerKey, command.trimmed()); }
QString Preferences::soundFont() const { return QSettings().value(kSoundFontKey).toString(); }
void Preferences::setSoundFont(const QString& path) { QSettings().setValue(kSoundFontKey, path); }
QByteArray Preferences::windowGeometry(const QString& name) const {
    return QSettings().value(geometryKey(name)).toByteArray();
}
void Preferences::setWindowGeometry(const QString& name, const QByteArray& geometry) {
    QSettings().setValue(geometryKey(name), geometry);
}
double Preferences::notesZoom() const { return std::max(0.0, QSettings().value(kNotesZoomKey).toDouble()); }
void Preferences::setNotesZoom(double pixelsPerTick) { QSettings().setValue(kNotesZoomKey, pixelsPerTick); }
QString Preferences::theme() const { return QSettings().value(kThemeKey).toString(); }
void Preferences::setTheme(const QString& name) { QSettings().setValue(kThemeKey, name); }

RemoteSettings Preferences::remoteControl() const {
    const QSettings s;
    RemoteSettings r;
    r.enabled = s.value(kRemoteKey + QStringLiteral("enabled"), false).toBool();
    r.port = portSetting(s, QStringLiteral("port"), RemoteSettings::kDefaultPort, 1);
    r.allNetworks = s.value(kRemoteKey + QStringLiteral("allNetworks"), false).toBool();
    r.answerPort = portSetting(s, QStringLiteral("answerPort"), 0, 0);
    return r;
}

void Preferences::setRemoteControl(const RemoteSettings& r) {
    QSettings s;
    s.setValue(kRemoteKey + QStringLiteral("enabled"), r.enabled);
    s.setValue(kRemoteKey + QStringLiteral("port"), r.port);
    s.setValue(kRemoteKey + QStringLiteral("allNetworks"), r.allNetworks);
    s.setValue(kRemoteKey + QStringLiteral("answerPort"), r.answerPort);
}

Workspace::Workspace(std::unique_ptr<MidiOutput> output, Clock& clock, PlayerOptions options)
    : playback(std::move(output), clock, options) {}

void Workspace::seedRandomizer() {
    seedInUse_ = fixedSeed ? *fixedSeed : UniformRandom::timeSeed();
    random.setSeed(seedInUse_);
}

}  // namespace tarrowin::app
