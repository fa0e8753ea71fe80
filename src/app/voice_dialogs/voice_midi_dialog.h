#pragma once
// "Extra - voice N": what a voice sends to its MIDI channel (instrument or percussion key,
// mode, channel, pan, dynamic), its inversion and whether the document's tuning tunes it.
// The dialog edits a copy of these values; its caller reads values() after OK and commits
// them.

#include <QDialog>
#include <cstdint>

#include "engine/settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;

namespace tarrowin::app {

class PanControl;

// The eight voice fields the dialog edits.
struct VoiceMidiValues {
    int32_t instrument = 0;
    int32_t tied = 1;
    int32_t channel = 0;
    int32_t percussionKey = 0;
    bool inverted = false;
    bool matchScale = true;
    int32_t dynamicIndex = 3;
    int32_t pan = 0;

    static VoiceMidiValues of(const VoiceSettings& v);
    // Writes the eight fields with the velocity of the dynamic, and rebuilds the scale for
    // the inversion (from the stored user scale when the voice has "User defined").
    void applyTo(VoiceSettings& v) const;
    bool operator==(const VoiceMidiValues&) const = default;
};

class VoiceMidiDialog : public QDialog {
    Q_OBJECT
   public:
    // The dialog of voice 0..15; its caption names the voice.
    VoiceMidiDialog(int voice, QWidget* parent = nullptr);

    // Shows the values as the dialog opens. The percussion flag follows from whether the
    // channel is the output's percussion channel. `tuned`: the voice's "Tuned" switch, which
    // does nothing on the percussion channel, whose keys are drums, and stays as it is while
    // `tuningFixed` (a play runs with the tuning it began with). `channelFixed`: the channel
    // and the Percussion box stay as they are too (a play that retunes planned its tuning on
    // the channels it began with: a voice moved would sound untuned or bend another).
    void load(const VoiceMidiValues& values, int percussionChannel, bool tuned = true, bool tuningFixed = false,
              bool channelFixed = false);
    VoiceMidiValues values() const;
    bool percussion() const;
    bool tuned() const;

   private:
    void channelChosen(int channel);
    void percussionToggled(bool on);
    void showPercussion(bool on);

    const int voice_;
    int percussionChannel_ = 9;
    bool tuningFixed_ = false;
    QComboBox* instrument_;
    QComboBox* mode_;
    QCheckBox* percussionBox_;
    QComboBox* percussionKey_;
    QComboBox* channel_;
    PanControl* pan_;
    QButtonGroup* dynamic_;
    QCheckBox* inverted_;
    QCheckBox* matchScale_;
    QCheckBox* tuned_;
    QLabel* fixedNote_;  // why Tuned (and the channel) wait for the play's end
};

}  // namespace tarrowin::app
