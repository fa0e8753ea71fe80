#pragma once
// "Tuning" (Options > Tuning...): the document's Scala scale and keyboard map, shown as its
// description, degrees in cents and reference, and the method that carries it to external
// synthesizers and MIDI files. The dialog edits a copy; editTuning commits it as one step.

#include <QDialog>

#include "engine/tuning.h"

class QButtonGroup;
class QLabel;
class QListWidget;

namespace tarrowin {
struct TuningFile;
}

namespace tarrowin::app {

class Workspace;

class TuningDialog : public QDialog {
    Q_OBJECT
   public:
    explicit TuningDialog(const TuningSettings& tuning, QWidget* parent = nullptr);

    const TuningSettings& tuning() const { return tuning_; }

    // The buttons' work, for a path chosen elsewhere: a file that is refused leaves the
    // tuning as it was and is named in a message box.
    void loadScale(const QString& path);
    void loadKeyboardMap(const QString& path);

   private:
    void chooseScale();
    void chooseKeyboardMap();
    void standardMap();
    void equalTemperament();
    // The tuning with a new scale or map, or the reader's refusal shown.
    void take(const TuningRead<Tuning>& read);
    // The text of a file read as the scale (else the map), or its refusal shown.
    void takeFile(const QString& path, const TuningFile& file, bool scale);
    void refresh();

    TuningSettings tuning_;
    QString folder_;  // where the last file was chosen
    QLabel* description_;
    QLabel* degreeCount_;
    QListWidget* degrees_;
    QLabel* map_;
    QLabel* reference_;
    QButtonGroup* method_;
};

// Opens the dialog on the document's tuning and commits what OK returns as the step
// "Tuning".
void editTuning(Workspace& workspace, QWidget* parent);

}  // namespace tarrowin::app
