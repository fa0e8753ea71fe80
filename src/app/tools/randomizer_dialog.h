#pragma once
// The Composition Randomizer: the modal dialog over the Randomizer's rules and members
// (src/tools). "Randomize !" replaces the chosen settings of the chosen voices with random
// values, "Create" appends random events through the Composition Maker; each is one undo
// step. The members outlive the dialog, so every choice stays between openings; the seed
// the generator was given is shown so that a result can be made again with --seed.

#include <QDialog>
#include <array>
#include <functional>

#include "tools/composition_randomizer.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarrowin::app {

class Workspace;
class VoiceToggles;

class RandomizerDialog : public QDialog {
    Q_OBJECT
   public:
    // `showMaker` opens the Composition Maker if needed and brings it to the front.
    RandomizerDialog(Workspace& workspace, CompositionRandomizer& members, std::function<void()> showMaker,
                     QWidget* parent);

    // Takes every typed field into the members; false (after the field's message) when one
    // is refused.
    bool takeFields();
    void randomize();
    void create();
    // "Close" and Escape: the fields are taken, then the dialog closes.
    void reject() override;

    QCheckBox* box(RandomBox b) const { return boxes_[static_cast<size_t>(b)]; }
    QPushButton* voiceToggle(int v) const;

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    QWidget* makeBoxes();
    QWidget* makeComposition();
    QPushButton* makeButton(const QString& text);
    QLineEdit* makeField(const QString& name, QLabel* label);
    void boxToggled(RandomBox b, bool on);
    void openPicker(PickerRequest request);
    bool takeField(QLineEdit* edit);
    // Shows every member, without reporting changes, and applies the enabling rules.
    void showMembers();

    Workspace& ws_;
    CompositionRandomizer& m_;
    std::function<void()> showMaker_;
    std::array<QCheckBox*, kRandomBoxes> boxes_{};
    VoiceToggles* voices_ = nullptr;
    QLineEdit* numberOfEvents_ = nullptr;
    QLineEdit* minCounter_ = nullptr;
    QLineEdit* maxCounter_ = nullptr;
    QCheckBox* voicesOnOff_ = nullptr;
    QCheckBox* allowSilence_ = nullptr;
    QLabel* minVoicesOnLabel_ = nullptr;
    QLineEdit* minVoicesOn_ = nullptr;
    QCheckBox* createUserScales_ = nullptr;
    QCheckBox* createOnlyUserScales_ = nullptr;
    std::array<QRadioButton*, 3> startModes_{};
    QLineEdit* randomStartMin_ = nullptr;
    QLineEdit* randomStartMax_ = nullptr;
    QCheckBox* sequential_ = nullptr;
};

}  // namespace tarrowin::app
