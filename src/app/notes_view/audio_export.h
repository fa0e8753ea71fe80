#pragma once
// "&Export Audio...": what "Save &Midi file..." would write, rendered through the built-in
// synthesizer into a WAV or FLAC file (by the name's extension). The rendering runs on a
// worker thread behind a progress dialog whose Cancel abandons it; a cancelled or failed
// export leaves no file and never a partial one in place of an older file.

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace tarrowin::app {

class Workspace;

class AudioExport : public QObject {
    Q_OBJECT
   public:
    AudioExport(Workspace& workspace, QWidget* window);

    // The whole command: the form's values, the refusals of the MIDI export, the file
    // dialog, the rendering and its messages.
    void run();
    // The user's SoundFont, which the synthesizer's search takes after TARROWIN_SOUNDFONT.
    std::function<QString()> preferredSoundFont;

   Q_SIGNALS:
    // A file was written (for the status bar).
    void exported(const QString& path, qint64 milliseconds);
    // The user cancelled the rendering: no file was written.
    void cancelled();

   private:
    QString askPath(const QString& title);

    Workspace& ws_;
    QWidget* window_;
};

}  // namespace tarrowin::app
