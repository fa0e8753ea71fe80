#pragma once
// The Multiple Voice Editor: the modal dialog over the editor's rules and members
// (src/tools). Each checked change flag enables its value control; "Change Settings" sets
// those values in the chosen voices of the current settings, "Change Selected Events" in
// the chosen voices of the selected events, each as one undo step. The members outlive the
// dialog, so every choice stays between openings.

#include <QDialog>
#include <array>

#include "tools/multiple_voice_editor.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarrowin::app {

class Workspace;
class VoiceToggles;
class PanControl;

class VoiceEditorDialog : public QDialog {
    Q_OBJECT
   public:
    VoiceEditorDialog(Workspace& workspace, MultipleVoiceEditor& members, QWidget* parent);

    // Takes Param1 and Param2 into the members; false (after the field's message) when one
    // is refused.
    bool takeFields();
    void changeSettings();
    void changeSelectedEvents();
    void setCoefficient();

    QCheckBox* flagBox(ChangeFlag f) const { return flags_[static_cast<size_t>(f)]; }
    // The control a change flag enables.
    QWidget* valueControl(ChangeFlag f) const { return values_[static_cast<size_t>(f)]; }
    QListWidget* events() const { return events_; }
    QPushButton* voiceToggle(int v) const;

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    QWidget* makeChanges();
    QWidget* makeEvents();
    // Tab reads the dialog: each change flag then the control it enables, the flags' "All"
    // and "None", the voices, the events, the actions and "Close".
    void orderTabs();
    QComboBox* makeCombo(ChangeFlag f, const QStringList& lines);
    QPushButton* makeButton(const QString& text, const QString& description = {});
    void modulateToggled(bool on);
    void scaleChosen(int row);
    void noteValueChosen(int row);
    bool takeField(QLineEdit* edit);
    // Shows every member, without reporting changes, and applies the enabling rule.
    void showMembers();

    Workspace& ws_;
    MultipleVoiceEditor& m_;
    VoiceToggles* voices_ = nullptr;
    std::array<QCheckBox*, kChangeFlags> flags_{};
    std::array<QWidget*, kChangeFlags> values_{};
    QComboBox* algorithm_ = nullptr;
    QLineEdit* param1_ = nullptr;
    QLineEdit* param2_ = nullptr;
    QCheckBox* modulate_ = nullptr;
    QComboBox* octaves_ = nullptr;
    QComboBox* note_ = nullptr;
    QComboBox* scale_ = nullptr;
    QComboBox* noteValue_ = nullptr;
    QComboBox* instrument_ = nullptr;
    QComboBox* mode_ = nullptr;
    PanControl* pan_ = nullptr;
    QWidget* dynamicBox_ = nullptr;
    QButtonGroup* dynamic_ = nullptr;
    QCheckBox* inverted_ = nullptr;
    QCheckBox* matchScale_ = nullptr;
    QPushButton* setCoefficient_ = nullptr;
    QPushButton* allFlags_ = nullptr;
    QPushButton* noFlags_ = nullptr;
    QListWidget* events_ = nullptr;
    QPushButton* allEvents_ = nullptr;
    QPushButton* noEvents_ = nullptr;
    QPushButton* changeSettings_ = nullptr;
    QPushButton* changeEvents_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace tarrowin::app
