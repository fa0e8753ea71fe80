#pragma once
// What every window of the program works with: the document controller, playback, the
// message boxes, the Randomizer's random generator and the settings kept between sessions.

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>

#include "document_controller.h"
#include "playback_controller.h"
#include "qt_prompter.h"
#include "tools/uniform_random.h"

namespace tarrowin::app {

// Settings that outlive the program (QSettings): the recent files, the MIDI file player,
// the SoundFont. Their files are looked at before QSettings reads them, as every input is:
// one that is no regular file of a sensible size (a pipe, a link to a device) would stall
// or end the start. Then the program runs on the defaults, kept in memory, and the file is
// left as it is.
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
    QtPrompter prompter;
    // The Randomizer's generator, seeded at every initial update of the form.
    UniformRandom random;
    // --seed: the seed of the Randomizer and of the "Random" modulation; none: the time.
    std::optional<int64_t> fixedSeed;
    Preferences preferences;

    // Seeds the Randomizer: with --seed S (mended: -S, so every seed fills the shuffle
    // table), else from the time in seconds.
    void seedRandomizer();
    // The seed given to the Randomizer at its last seeding, for the dialog to show.
    int64_t seedInUse() const { return seedInUse_; }

   private:
    int64_t seedInUse_ = 0;
};

}  // namespace tarrowin::app
