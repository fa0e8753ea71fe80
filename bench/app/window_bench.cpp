// The window's response times: from starting tarrowin to its window on screen (with the
// device dialog skipped), opening a 1000-event document with the form refreshed, and a
// click on Play to the first note sent for Start 50000. Prints each figure beside its
// target and exits non-zero when one is missed. Run it on a display (Xvfb will do): the
// first figure starts the real program.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/workspace.h"
#include "document/document_file.h"
#include "playback/recording_backend.h"

using namespace tarrowin;
using namespace tarrowin::app;

namespace {

struct Figure {
    const char* what;
    double ms;
    double target;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Launch to a visible window with the title `window`, as xdotool sees it. xdotool's own
// --sync looks every half second, which rounded each figure up to the next half second:
// it is asked every 10 ms instead.
double startupMs(const QString& program, const QStringList& arguments = {QStringLiteral("--device"), QStringLiteral("0")},
                 const QString& window = QStringLiteral("Tarrowin 2.5"),
                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QElapsedTimer t;
    t.start();
    QProcess app;
    app.setProcessEnvironment(env);
    app.start(program, arguments);
    while (t.elapsed() < 10000) {
        QProcess search;
        search.setStandardOutputFile(QProcess::nullDevice());
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 QStringLiteral("--name"), window});
        search.waitForFinished(5000);
        if (search.exitStatus() == QProcess::NormalExit && search.exitCode() == 0) break;
        QThread::msleep(10);
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    app.terminate();
    app.waitForFinished(5000);
    return ms;
}

// The socket of a JACK server that takes connections and never answers (one that is
// stopped or swamped), under a server name of its own; removed when it goes.
class SilentJackServer {
   public:
    SilentJackServer() : name_("tarrowin-bench-silent-" + std::to_string(getpid())) {
        path_ = "/dev/shm/jack_" + name_ + "_" + std::to_string(getuid()) + "_0";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 16);
    }
    ~SilentJackServer() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), QString::fromStdString(name_));
        return env;
    }

   private:
    std::string name_;
    std::string path_;
    int fd_ = -1;
};

std::unique_ptr<Workspace> recordedWorkspace(RecordingBackend** recorder) {
    auto backend = std::make_unique<RecordingBackend>(SteadyClock::instance(), std::vector<std::string>{"Recorder"}, true);
    *recorder = backend.get();
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::move(backend));
    auto out = std::make_unique<MidiOutput>(std::move(backends));
    out->countDevices();
    return std::make_unique<Workspace>(std::move(out));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/tarrowin");
    std::vector<Figure> figures;

    std::vector<double> starts;
    for (int i = 0; i < 5; ++i) starts.push_back(startupMs(program));
    figures.push_back({"start to window shown (median of 5)", median(starts), 1000});

    // The device list at start must not wait for a JACK server that does not answer: the
    // window asks for the device once the list is made.
    {
        const SilentJackServer silent;
        std::vector<double> listed;
        for (int i = 0; i < 3; ++i) {
            listed.push_back(startupMs(program, {}, QStringLiteral("MidiOut Setup"), silent.environment()));
        }
        figures.push_back({"start to MidiOut Setup, JACK not answering (median of 3)", median(listed), 1000});
    }

    RecordingBackend* recorder = nullptr;
    auto ws = recordedWorkspace(&recorder);
    MainWindow window(*ws);
    window.show();
    QApplication::processEvents();

    // A 1000-event composition of all 16 voices.
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.trw"));
    {
        CTarrowinDoc doc;
        doc.OnNewDocument();
        for (int v = 0; v < kVoices; ++v) doc.setEnabled(v, true);
        for (int e = 0; e < kMaxEvents; ++e) {
            doc.setStartCounter(e * 10);
            doc.setEndCounter(e * 10 + 64);
            doc.addCurrentSettingsAsEvent();
        }
        saveDocumentFile(big.toStdString(), doc);
    }
    std::vector<double> opens;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        ws->document.open(big);
        QApplication::processEvents();
        opens.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    figures.push_back({"open a 1000-event document, form refreshed (median of 5)", median(opens), 200});

    // Play from Start 50000: the warm-up of every voice, then the first note. The chaotic
    // maps at one tick per note are the longest warm-up there is.
    ws->document.newDocument();
    ws->document.edit(QStringLiteral("bench"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        for (int v = 0; v < kVoices; ++v) {
            d.setEnabled(v, true);
            d.setAlgorithm(v, static_cast<Algorithm>(1 + v % (kAlgorithms - 1)));
            d.setNoteValue(v, 5, 1.0f);
        }
        d.setStartCounter(50000);
        d.setEndCounter(50000);
    });
    std::vector<double> plays;
    for (int i = 0; i < 5; ++i) {
        recorder->clear();
        while (!ws->playback.canPlay()) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto t0 = SteadyClock::instance().now();
        window.play();
        Clock::Duration first{-1};
        while (first.count() < 0) {
            for (const auto& r : recorder->records()) {
                if ((r.message.status & 0xF0) == 0x90) {
                    first = r.time;
                    break;
                }
            }
        }
        plays.push_back(double((first - t0).count()) / 1e6);
        window.stop();
        ws->playback.stop();
        while (ws->playback.isPlaying() || !ws->playback.canPlay()) QApplication::processEvents();
    }
    figures.push_back({"Play at Start 50000 to the first note sent (median of 5)", median(plays), 50});

    bool ok = true;
    for (const Figure& f : figures) {
        const bool met = f.ms <= f.target;
        ok = ok && met;
        std::printf("%-62s %8.1f ms  (target %5.0f ms) %s\n", f.what, f.ms, f.target, met ? "" : "MISSED");
    }
    return ok ? 0 : 1;
}
