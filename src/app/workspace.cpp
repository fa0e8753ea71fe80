#include "workspace.h"

#include <QFileInfo>
#include <QSettings>

namespace tarrowin::app {

namespace {
const QString kRecentKey = QStringLiteral("recentFiles");
const QString kPlayerKey = QStringLiteral("midiPlayer");
const QString kSoundFontKey = QStringLiteral("soundFont");
}  // namespace

QStringList Preferences::recentFiles() const {
    QStringList files;
    for (const QString& f : QSettings().value(kRecentKey).toStringList()) {
        // Documents only: a pipe, a device or a folder that a document was saved to is none.
        if (QFileInfo(f).isFile() && !files.contains(f)) files << f;
        if (files.size() == kRecentFiles) break;
    }
    return files;
}

void Preferences::addRecentFile(const QString& path) {
    if (!QFileInfo(path).isFile()) return;
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

Workspace::Workspace(std::unique_ptr<MidiOutput> output, Clock& clock, PlayerOptions options)
    : playback(std::move(output), clock, options) {}

void Workspace::seedRandomizer() {
    seedInUse_ = fixedSeed ? *fixedSeed : UniformRandom::timeSeed();
    random.setSeed(seedInUse_);
}

}  // namespace tarrowin::app
