#include "startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "device_dialogs.h"
#include "engine/generators.h"
#include "main_window.h"
#include "playback/device_choice.h"
#include "process_signals.h"
#include "recovery/crash_recovery.h"
#include "remote_control/session_control.h"
#include "workspace.h"

namespace tarrowin::app {

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Compose music from chaotic and self-similar number sequences."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A Tarrowin document (*.trw) to open."),
                                 QStringLiteral("[FILE]"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("The MIDI output: its number in \"MidiOut Setup\" (0 = Midi Mapper) "
                                                   "or its name. Without it, \"MidiOut Setup\" asks."),
                                    QStringLiteral("N|NAME"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("The seed of the Randomizer and of random modulation, "
                                                 "so that a result can be had again (1..2147483398)."),
                                  QStringLiteral("S"));
    parser.addOption(device);
    parser.addOption(seed);

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.error = parser.errorText();
        return line;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        line.helpShown = true;
        if (parser.isSet(QStringLiteral("help")))
            parser.showHelp(0);  // prints and exits
        else
            parser.showVersion();
        return line;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        line.error = QStringLiteral("Only one document can be opened at a time.");
        return line;
    }
    if (!files.isEmpty()) line.file = files.constFirst();
    line.device = parser.value(device);
    if (parser.isSet(seed)) {
        bool ok = false;
        const qlonglong s = parser.value(seed).toLongLong(&ok);
        if (!ok || s < 1 || s > 2147483398) {
            line.error = QStringLiteral("--seed takes a whole number from 1 to 2147483398, not \"%1\".")
                             .arg(parser.value(seed));
            return line;
        }
        line.seed = s;
    }
    return line;
}

bool screenLargeEnough(QSize screen) {
    return screen.width() >= kMinScreenWidth && screen.height() >= kMinScreenHeight;
}

QPoint centredPosition(QSize screen, QSize window) {
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2};
}

int runTarrowin(QApplication& app, std::vector<std::unique_ptr<MidiBackend>> backends, const CommandLine& line) {
    // First, so that no write past a file size limit ends the program, from here on.
    ProcessSignals processSignals;
    Workspace ws(std::make_unique<MidiOutput>(std::move(backends)));
    // The devices are looked up while the window is made: a MIDI system that is slow to
    // answer (a JACK server gives up to its limit) does not add to the start. Nothing reads
    // the device list before the join below. Under a session manager no JACK client opens
    // before the session names it.
    MidiOutput& out = ws.playback.output();
    uint32_t deviceCount = 0;
    std::atomic<bool> counted{false};
    std::thread counting;
    if (qEnvironmentVariable("NSM_URL").isEmpty()) {
        try {
            counting = std::thread([&out, &deviceCount, &counted] {
                deviceCount = out.countDevices();
                counted.store(true);
                // Wakes the wait below, which sees `counted` whichever loop takes this.
                QMetaObject::invokeMethod(qApp, [] {}, Qt::QueuedConnection);
            });
        } catch (const std::system_error&) {
            // No thread to be had: the list is made below, once the window is shown.
        }
    }
    struct Joiner {
        std::thread& t;
        ~Joiner() {
            if (t.joinable()) t.join();
        }
    } joinOnReturn{counting};
    ws.fixedSeed = line.seed;
    // --seed also fixes the run lengths of "Random" modulation in every play, export and view.
    if (line.seed) setDefaultRunLengthSeed(static_cast<uint64_t>(*line.seed));
    MainWindow window(ws);
    QObject::connect(&processSignals, &ProcessSignals::received, &window,
                     [&window, &processSignals] { window.endFromOutside(processSignals.exitCode()); });

    if (!line.file.isEmpty()) {
        const FileResult r = ws.document.open(line.file);
        if (!r.ok) {
            showMessage(nullptr, QString::fromStdString(r.message), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
            return 1;
        }
        ws.preferences.addRecentFile(line.file);
    }

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (!screenLargeEnough(screen.size())) {
        showMessage(nullptr, QStringLiteral("You need at least 800X600 screen resolution to run Tarrowin"),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return kScreenTooSmallExit;
    }
    window.fitToContents();
    const QSize size = window.size();
    // Centred; a window wider than a small screen keeps its title bar on it.
    const QPoint corner = centredPosition(screen.size(), size);
    window.move(screen.topLeft() + QPoint(std::max(0, corner.x()), std::max(0, corner.y())));
    // Under a session manager, its open decides the document, the device and whether the
    // window shows; nothing opens a JACK client before it.
    std::unique_ptr<SessionControl> session;
    if (const QString url = qEnvironmentVariable("NSM_URL"); !url.isEmpty())
        session = SessionControl::join(url, ws, window);
    if (!session) window.show();

    if (!session) {
        // Without a session the list is being made since the start; a session that could
        // not be joined lists the devices now.
        if (counting.joinable()) {
            // The window paints meanwhile, but takes no input before a device is chosen.
            while (!counted.load())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
            counting.join();
            // A signal that came meanwhile ends the program before any question.
            if (processSignals.exitCode() != 0) return processSignals.exitCode();
        } else {
            deviceCount = out.countDevices();
        }
    }
    if (!session && deviceCount == 0) {
        showMessage(&window, QString::fromLatin1(kNoDevicesMessage), QStringLiteral("Tarrowin"), MessageIcon::Stop);
        return 1;
    }
    bool chosen = session != nullptr;
    if (!chosen && !line.device.isEmpty()) {
        const DeviceChoice choice = chooseDeviceByName(out.setupRows(), line.device.toStdString());
        if (choice.ok) {
            out.chooseDevice(choice.device);
            chosen = true;
        } else {
            showMessage(&window, QString::fromStdString(choice.message), QStringLiteral("Tarrowin"),
                        MessageIcon::Exclamation);
        }
    }
    if (!chosen) {
        MidiOutSetupDialog setup(out.setupRows(), &window);
        setup.exec();
        out.chooseDevice(setup.device());
    }
    out.prepare();  // the synthesizer's stream starts in the background, so the first Play sounds at once
    if (!ws.preferences.problem().isEmpty()) {
        showMessage(&window,
                    QStringLiteral("Tarrowin cannot read its settings file, so it starts with its default settings "
                                   "and does not save the ones changed now. The file was left as it is.\n\n%1")
                        .arg(ws.preferences.problem()),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
    }
    // Under a session manager, the session's files are the only ones: no copy is offered.
    if (!session) window.recovery().start();
    // A signal that came during a question at start has ended its dialog already.
    const int code = processSignals.exitCode() != 0 ? processSignals.exitCode() : app.exec();
    ws.playback.stop();
    out.close();
    return code;
}

}  // namespace tarrowin::app
