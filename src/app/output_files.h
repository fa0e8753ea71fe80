#pragma once
// Where the window's outputs go and how they are written: one save dialog for every output
// (documents, MIDI files, audio, images) and one writer, the document layer's ReplacingFile.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class QFileDialog;
class QWidget;

namespace tarrowin::app {

// A kind of file a save dialog offers: "PNG images (*.png)" and its suffix "png".
struct OutputFormat {
    QString filter;
    QString suffix;
};

// Asks where an output goes. The dialog opens in `folder` with `name` typed in (either may
// be empty) and offers `formats`, the first one chosen. A name typed without a suffix gets
// the chosen format's suffix before the dialog asks whether to replace an existing file,
// so no file is replaced unasked. Empty when cancelled. `addControls`, when given, adds
// controls of the caller's below the dialog's own (the dialog is then Qt's, never the
// desktop's, which could not show them).
QString askOutputPath(QWidget* parent, const QString& title, const QString& folder, const QString& name,
                      const QList<OutputFormat>& formats,
                      const std::function<void(QFileDialog&)>& addControls = {});

// Writes `bytes` to `path` by the writer's rules: a file is replaced only once the new one
// is complete and on the disk, a pipe or a character device is written into directly, and
// a folder, a block device, a socket or a pipe that nothing reads is refused. Empty on
// success, else the reason ("File too large", "no program reads from the pipe").
QString writeOutput(const QString& path, const QByteArray& bytes);

}  // namespace tarrowin::app
