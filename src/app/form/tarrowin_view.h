#pragma once
// The main form (the view of the document): sixteen voice rows on the left, and the Tempo,
// Counters, "Play from Event" and Time signature groups on the right. It shows the
// document's current settings, checks what is typed, and commits each accepted change
// through the document controller. What is enabled follows the play state.

#include <QWidget>
#include <array>
#include <optional>

#include "app/command_state.h"
#include "voice_row.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tarrowin::app {

class Workspace;
class VoiceDialogs;

class TarrowinView : public QWidget {
    Q_OBJECT
   public:
    // Registers the form's typed input gate with the document controller, for as long as
    // the form lives.
    TarrowinView(Workspace& workspace, VoiceDialogs& dialogs, QWidget* parent = nullptr);
    ~TarrowinView() override;

    // After New and Open: typing not yet taken is dropped, the lists are filled from the
    // document, and the Randomizer is seeded again.
    void initialUpdate();
    // Shows the document's values in every control.
    void refresh();

    // Reads the whole form: the first field that is not an integer in its range shows the
    // message, gets the focus back, and the result is false.
    bool validateForm();
    // A command is about to read the document: check the form, then commit every typed
    // value that differs from the document (End and Start last, as Play takes them).
    bool takeForm();

    // Enables the controls for the state: idle, a live or composition play, an audition.
    // While an unlocked live play runs, the End edit shows the Start counter.
    void stabilize(const UiState& state);

    const VoiceRow& row(int v) const { return *rows_[static_cast<size_t>(v)]; }
    QScrollBar* tempoBar() const { return tempoBar_; }
    QLineEdit* startEdit() const { return start_; }
    QLineEdit* endEdit() const { return end_; }
    QComboBox* playFromEventList() const { return playFromEvent_; }
    QPushButton* lockButton() const { return lock_; }

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    QWidget* makeSidePanel();
    void voiceToggled(int v, bool on);
    void editLeft(int v, VoiceRow::Column c);
    void modulateClicked(int v, bool on);
    void listChosen(int v, VoiceRow::Column c, int row);
    void counterLeft(QLineEdit* edit);
    void commitField(int v, VoiceRow::Column c, int32_t value);
    void commitCounter(bool start, int32_t value);
    void tempoMoved(int value);
    void reset();
    void toggleLock();
    void round();
    void updateFromEvent();
    void globalTempo();
    void timeSignatureChosen(bool numerator, int row);
    void showPlayFromEvent();
    void showEndCounter();

    Workspace& ws_;
    VoiceDialogs& dialogs_;
    std::array<VoiceRow*, kVoices> rows_{};
    QLabel* tempoLabel_ = nullptr;
    QScrollBar* tempoBar_ = nullptr;
    QPushButton* globalTempo_ = nullptr;
    QLineEdit* start_ = nullptr;
    QLineEdit* end_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* round_ = nullptr;
    QPushButton* lock_ = nullptr;
    QComboBox* playFromEvent_ = nullptr;
    QPushButton* update_ = nullptr;
    QComboBox* numerator_ = nullptr;
    QComboBox* denominator_ = nullptr;
    bool validating_ = false;
    UiState state_;
};

}  // namespace tarrowin::app
