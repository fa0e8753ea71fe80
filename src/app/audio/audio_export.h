#pragma once
// "&Export Audio...": what "Save &Midi file..." would write, rendered through the built-in
// synthesizer into a WAV or FLAC file (by the name's extension), and on request ("One file
// per voice (stems)") each voice's stem into a folder. The rendering runs on a worker
// thread behind a progress dialog whose Cancel abandons it; a cancelled or failed export
// leaves no file and never a partial one in place of an older file. The status bar says
// what was written, or that a cancelled export wrote nothing.

#include <QObject>
#include <QString>

class QMainWindow;

namespace tarrowin::app {

class Workspace;

class AudioExport : public QObject {
    Q_OBJECT
   public:
    AudioExport(Workspace& workspace, QMainWindow* window);

    // The whole command: the form's values, the refusals of the MIDI export, the file
    // dialog, the rendering and its messages.
    void run();

   private:
    // The file's name, and whether the stems go with it.
    QString askPath(const QString& title, bool& stems);
    QString askStemsFolder(const QString& mixPath);

    Workspace& ws_;
    QMainWindow* window_;
    bool stems_ = false;   // the last choice, offered again
    QString stemsFolder_;  // likewise
};

}  // namespace tarrowin::app
