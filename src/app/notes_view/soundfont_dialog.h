#pragma once
// "SoundFont": the SoundFont of the built-in synthesizer, chosen among the installed ones
// (listed first) or any other *.sf2 / *.sf3 file; "Default" leaves it to the search for the
// best installed one. The caller checks the file and remembers the choice.

#include <QDialog>

class QListWidget;

namespace tarrowin::app {

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
