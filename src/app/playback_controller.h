#pragma once
// Playback as the window drives it: the MIDI output with its device choice and percussion
// channel, the player, and the play options of the window (the play mode, "Update Settings
// playing composition", Lock and the "Play from Event" choice). The player's worker reports
// on its own thread; every report is passed on as a signal on the window's thread.

#include <QObject>
#include <memory>
#include <optional>

#include "app/thread_mailbox.h"
#include "playback/midi_output.h"
#include "playback/player.h"

namespace tarrowin {
class CTarrowinDoc;
}

namespace tarrowin::app {

enum class PlayMode { CurrentSettings = 0, Composition = 1 };

class PlaybackController : public QObject, private PlaybackListener {
    Q_OBJECT
   public:
    PlaybackController(std::unique_ptr<MidiOutput> output, Clock& clock = SteadyClock::instance(),
                       PlayerOptions options = {}, QObject* parent = nullptr);
    ~PlaybackController() override;

    MidiOutput& output() { return *output_; }
    const Player& player() const { return *player_; }

    PlayMode playMode() const { return mode_; }
    // "&Current Settings" / "Composition"; switching back to the current settings also
    // turns "Update Settings playing composition" off (it has no meaning there).
    void setPlayMode(PlayMode mode);
    bool updateWhilePlaying() const { return updateWhilePlaying_; }
    void setUpdateWhilePlaying(bool on);
    bool locked() const { return locked_; }
    void setLocked(bool on);
    // The line chosen in "Play from Event"; none when the list has no selection.
    std::optional<int> playFromEvent() const { return playFromEvent_; }
    void setPlayFromEvent(std::optional<int> index);
    // Options > Sync and "Send MIDI clock": where a Play's ticks come from, and whether it
    // sends MIDI clock. The Composition Maker's audition keeps its own time.
    SyncMode syncMode() const { return sync_.mode; }
    void setSyncMode(SyncMode mode);
    bool sendsMidiClock() const { return sync_.clockOut; }
    void setSendsMidiClock(bool on);
    // Options > Edit While Playing: while the current settings play, the window takes
    // changes of the voices and the tempo and hands them to the play.
    bool editWhilePlaying() const { return editWhilePlaying_; }
    void setEditWhilePlaying(bool on);
    // The current settings as edited during a live play: the play takes them at its next tick.
    void publishSettings(const Settings& settings) { player_->publishSettings(settings); }
    // Record Performance: each take comes back as takeReady.
    bool recording() const { return player_->recording(); }
    void setRecording(bool on);

    // The playing flag: set from a successful Play until Stop.
    bool isPlaying() const { return player_->isPlaying(); }
    // Play is possible: nothing plays, the cooldown after Stop is over and the window has
    // had the last play's end (a device may take longer to close than the cooldown lasts,
    // and the next play must not begin before the last one has written its End counter).
    bool canPlay() const { return player_->canPlay() && !endPending_; }
    // What runs now (meaningful while isPlaying()).
    PerformanceMode runningMode() const { return running_; }
    bool isAuditioning() const { return isPlaying() && running_ == PerformanceMode::Audition; }

    // Plays the document in the play mode: the current settings (with Lock) or the
    // composition from "Play from Event" (event 0 without a choice).
    PlayResult play(const CTarrowinDoc& doc);
    // Plays one event, as the Composition Maker's Play does.
    PlayResult audition(const CTarrowinDoc& doc, int event);
    void stop();
    // Switches a voice on or off in a live run that is playing.
    void setVoiceOn(int v, bool on) { player_->setVoiceOn(v, on); }

    // The event and counter playing now, for the status bar.
    int currentEvent() const { return player_->currentEvent(); }
    int32_t position() const { return player_->position(); }

   Q_SIGNALS:
    // Playing, cooldown, mode, Lock or update flag changed: the window stabilizes its controls.
    void stateChanged();
    void playFromEventChanged(std::optional<int> index);
    // On the window's thread: an event begins (0 for the current settings).
    void eventStarted(int index);
    // On the window's thread: the worker has sent its final messages and closed the device.
    void playFinished(const tarrowin::PlaybackFinish& finish);
    // On the window's thread: a word about the sync for the status bar (waiting for the
    // master, the master gone).
    void syncNoticed(const QString& text);
    // On the window's thread: a recording ended, with what reached the device meanwhile.
    void takeReady(const tarrowin::PerformanceTake& take);

   private:
    // PlaybackListener, called on the worker's and the cooldown's threads.
    void eventBegins(int index) override;
    void playbackFinished(const PlaybackFinish& finish) override;
    void playAvailable() override;
    void syncNotice(const std::string& text) override;
    void takeRecorded(PerformanceTake take) override;

    PlayResult start(PlayRequest request);

    ThreadMailbox mailbox_;  // the reports of the player's threads, to the window's thread
    std::unique_ptr<MidiOutput> output_;
    std::unique_ptr<Player> player_;
    PlayMode mode_ = PlayMode::CurrentSettings;
    bool updateWhilePlaying_ = false;
    bool locked_ = false;
    std::optional<int> playFromEvent_;
    SyncOptions sync_;
    bool editWhilePlaying_ = false;
    PerformanceMode running_ = PerformanceMode::Live;
    bool endPending_ = false;  // from a successful Play until playFinished is emitted
};

}  // namespace tarrowin::app

Q_DECLARE_METATYPE(tarrowin::PlaybackFinish)
Q_DECLARE_METATYPE(tarrowin::PerformanceTake)
