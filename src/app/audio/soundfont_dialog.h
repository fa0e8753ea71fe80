#pragma once
// "Sound&Font...": the SoundFont of the built-in synthesizer, chosen among the installed ones
// (listed first) or any other *.sf2 / *.sf3 file; "Default" leaves it to the search for the
// best installed one. The choice is remembered across sessions.

#include <QDialog>

class QListWidget;

namespace tarrowin::app {

class Workspace;

// The command: a file FluidSynth cannot load is refused with its reason and the old choice
// stays; a new choice is remembered and given to the synthesizer.
void chooseSoundFont(Workspace& workspace, QWidget* parent);
// The remembered SoundFont to the built-in synthesizer, from its next open on.
void applySoundFont(Workspace& workspace);

class SoundFontDialog : public QDialog {
    Q_OBJECT
   public:
    SoundFontDialog(const QString& current, QWidget* parent);
    // The chosen file; empty for "Default".
    QString choice() const;
    QListWidget* list() const { return list_; }
    // Adds a file to the list (once) and selects it.
    void select(const QString& path);

   private:
    void browse();

    QListWidget* list_;
};

}  // namespace tarrowin::app
