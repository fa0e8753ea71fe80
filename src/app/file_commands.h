#pragma once
// The "&File" menu: New, Open, Save, Save As, the recent files, "Save &Midi file..." and
// "&Play Midi file...", the question before a modified document is closed, files dropped on
// the window, and the MIDI file of a recorded performance.

#include <QObject>
#include <QString>
#include <deque>

#include "engine/performance_take.h"

class QMenu;
class QAction;

namespace tarrowin::app {

class Workspace;

class FileCommands : public QObject {
    Q_OBJECT
   public:
    FileCommands(Workspace& workspace, QWidget* window);

    void newDocument();
    void open();
    // Opens `path` after the save question; a file that cannot be read leaves the open
    // document as it was. True when the file was opened.
    bool openPath(const QString& path);
    // True when the document was saved (Save As asks for a name when it has none).
    bool save();
    bool saveAs();
    void saveMidi();
    void playMidi();
    // "Midi File Player": asks for the command that "Play Midi file..." starts.
    void chooseMidiPlayer();
    // A recording ended: asks where its MIDI file goes (Cancel keeps nothing) and writes it.
    // Takes that end while the question is open are asked for after it, in turn.
    void saveTake(const PerformanceTake& take);

    // Before the document is closed (New, Open, Exit): "Save changes to <title>?". True
    // when the caller may go on (saved, or the changes were given up).
    bool maybeSave();

    // The recent files, listed in the File menu before its last separator.
    void fillRecentFiles(QMenu* fileMenu, QAction* before);

   private:
    bool load(const QString& path);
    bool saveTo(const QString& path);
    QString askSavePath(const QString& title, const QString& filter, const QString& suffix);

    Workspace& ws_;
    QWidget* window_;
    QList<QAction*> recentActions_;
    std::deque<PerformanceTake> takes_;
    bool savingTakes_ = false;
};

}  // namespace tarrowin::app
