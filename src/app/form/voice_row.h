#pragma once
// One voice's row of the main form: the voice button, the Param1, Param2 and Offset edits,
// the Modulate box, the Octaves, Note, Scale and Note value lists and the "Set" button.
// The form makes sixteen of them into one grid, so the columns line up under their headers.

#include <QObject>
#include <array>

#include "engine/settings.h"
#include "engine/tables.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tarrowin::app {

class VoiceRow : public QObject {
    Q_OBJECT
   public:
    enum Column { Voice, Param1, Param2, Offset, Modulate, Octaves, Note, Scale, NoteValue, Extra, ColumnCount };
    // "Voices", "Param1", ... "Extra": the column headers, which also describe the controls.
    static const std::array<const char*, ColumnCount> kHeaders;

    // Makes the row's controls and puts them into `grid` at `gridRow`.
    VoiceRow(int voice, QGridLayout* grid, int gridRow, QWidget* parent);

    int voice() const { return voice_; }
    // Shows the voice's settings without reporting any change.
    void show(const VoiceSettings& v);
    // The Param1, Param2 and Offset edits by column, and the values each takes.
    QLineEdit* edit(Column c) const;
    static IntRange range(Column c);
    QWidget* control(Column c) const;
    // The nine controls after the voice button.
    void setSettingsEnabled(bool on);
    void setVoiceButtonEnabled(bool on);

   Q_SIGNALS:
    void voiceToggled(int voice, bool on);
    // An edit lost the focus or Return was pressed in it.
    void editLeft(int voice, tarrowin::app::VoiceRow::Column column);
    void modulateClicked(int voice, bool on);
    // A list was closed on `row` (also on the row already chosen).
    void listChosen(int voice, tarrowin::app::VoiceRow::Column column, int row);
    void setClicked(int voice);

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    QComboBox* makeList(Column c, QWidget* parent);

    const int voice_;
    QPushButton* voiceButton_;
    QLineEdit* param1_;
    QLineEdit* param2_;
    QLineEdit* offset_;
    QCheckBox* modulate_;
    QComboBox* octaves_;
    QComboBox* note_;
    QComboBox* scale_;
    QComboBox* noteValue_;
    QPushButton* set_;
};

}  // namespace tarrowin::app
