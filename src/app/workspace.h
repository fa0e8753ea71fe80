#pragma once
// What every window of the program works with: the document controller, playback, the
// message boxes, the Randomizer's random generator and the settings kept between sessions.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>

#include "document_controller.h"
#include "play_session.h"
#include "playback_controller.h"
#include "qt_prompter.h"
#include "tools/uniform_random.h"

namespace tarrowin::app {

// Remote control over OSC (Options > Remote Control (OSC)...): off unless chosen.
struct RemoteSettings {
    static constexpr int kDefaultPort = 7770;
    bool enabled = false;
    int port = kDefaultPort;
    bool allNetworks = false;  // false: 127.0.0.1 only
    int answerPort = 0;        // 0: answers go to the port each message came from
    bool operator==(const RemoteSettings&) const = default;
};

// Settings that outlive the program (QSettings): the recent files, the MIDI file player,
// the SoundFont, where each window was left, the notes view's zoom, the theme, remote
// control, the sync, MIDI clock out and Edit While Playing. Their files are looked at
// before QSettings reads them, as every input is: one that is no regular file of a sensible
// size (a pipe, a link to a device) would stall or end the start. Then the program runs on
// the defaults, kept in memory, and the file is left as it is.
class Preferences {
   public:
    Preferences();
    // Empty while the settings file is used; else why it is not.
    QString problem() const { return problem_; }

    static constexpr int kRecentFiles = 4;
    QStringList recentFiles() const;
    // Puts a file first in the list of recent files (at most four; no file twice).
    void addRecentFile(const QString& path);
    // The command "Play Midi file..." starts, the file's name added at its end; empty for
    // the desktop's handler (xdg-open).
    QString midiPlayer() const;
    void setMidiPlayer(const QString& command);
    QString soundFont() const;
    void setSoundFont(const QString& path);
    // A window's place and size (QWidget::saveGeometry()) by its object name; empty when
    // none was kept.
    QByteArray windowGeometry(const QString& name) const;
    void setWindowGeometry(const QString& name, const QByteArray& geometry);
    // The notes view's zoom in pixels per tick; 0 (also when none was kept) for the whole
    // piece across the view.
    double notesZoom() const;
    void setNotesZoom(double pixelsPerTick);
    // "System", "Light" or "Dark"; empty when none was chosen.
    QString theme() const;
    void setTheme(const QString& name);
    // A stored value outside its range reads as the default.
    RemoteSettings remoteControl() const;
    void setRemoteControl(const RemoteSettings& settings);
    // Options > Sync and "Send MIDI clock".
    SyncMode syncMode() const;
    void setSyncMode(SyncMode mode);
    bool sendMidiClock() const;
    void setSendMidiClock(bool on);
    // Options > Edit While Playing.
    bool editWhilePlaying() const;
    void setEditWhilePlaying(bool on);

   private:
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);

    QString problem_;
    QVariantMap memory_;  // the settings while the file is not used
};

class Workspace {
   public:
    Workspace(std::unique_ptr<MidiOutput> output, Clock& clock = SteadyClock::instance(), PlayerOptions options = {});

    DocumentController document;
    PlaybackController playback;
    // Play as the window starts it, and the play options that follow the document.
    PlaySession session;
    QtPrompter prompter;
    // The Randomizer's generator, seeded at every initial update of the form.
    UniformRandom random;
    // --seed: the seed of the Randomizer and of the "Random" modulation; none: the time.
    std::optional<int64_t> fixedSeed;
    Preferences preferences;
    // Under a session manager: the session holds the document's file, so the commands that
    // open or save elsewhere are off, and nothing asks to save.
    bool sessionManaged = false;

    // Seeds the Randomizer: with --seed S (mended: -S, so every seed fills the shuffle
    // table), else from the time in seconds.
    void seedRandomizer();
    // The seed given to the Randomizer at its last seeding, for the dialog to show.
    int64_t seedInUse() const { return seedInUse_; }

   private:
    int64_t seedInUse_ = 0;
};

}  // namespace tarrowin::app
