#pragma once
// The start of the program, in order: the command line and the document it names, the
// screen check, the main window centred on the screen, the MIDI devices and "MidiOut Setup".

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "playback/midi_backend.h"

class QApplication;

namespace tarrowin::app {

struct CommandLine {
    QString file;                 // empty: a new document
    QString device;               // --device N|NAME; empty: ask with "MidiOut Setup"
    std::optional<int64_t> seed;  // --seed S
    QString error;                // not empty: the command line cannot be used
    bool helpShown = false;       // --help or --version printed; nothing more to do
};
CommandLine parseCommandLine(const QStringList& arguments);

inline constexpr int kMinScreenWidth = 800;
inline constexpr int kMinScreenHeight = 600;
inline constexpr int kScreenTooSmallExit = 16;
// The smallest window that holds the form as it was drawn: Linux fonts only make it larger.
inline constexpr QSize kMinWindowSize{735, 495};

bool screenLargeEnough(QSize screen);
// The window's top-left corner for a centred window: (screen - window) / 2, each rounded down.
QPoint centredPosition(QSize screen, QSize window);

// Runs the whole program on the devices of `backends`; returns its exit code.
int runTarrowin(QApplication& app, std::vector<std::unique_ptr<MidiBackend>> backends, const CommandLine& line);

}  // namespace tarrowin::app
