// "devices", "play" and "render": list the MIDI outputs, play a document in real time on
// one of them, and render a document through the built-in synthesizer into a WAV or FLAC
// file.

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cli_documents.h"
#include "cli_options.h"
#include "command_registry.h"
#include "document/replacing_file.h"
#include "engine/generators.h"
#include "midifile/midi_export.h"
#include "playback/device_choice.h"
#include "playback/midi_output.h"
#include "playback/player.h"
#include "playback/system_backends.h"
#include "playback/wav_render.h"
#include "remote/osc_server.h"
#include "remote/remote_rules.h"

namespace tarrowin::cli {
namespace {

using namespace std::chrono_literals;

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

// "--device": a row of "MidiOut Setup" (0 = "Midi Mapper"), or a device's name.
int32_t resolveDevice(const MidiOutput& output, const std::string& wanted) {
    const DeviceChoice choice = chooseDeviceByName(output.setupRows(), wanted, " (see tarrowin-cli devices)");
    if (!choice.ok) throw CliError(choice.message);
    return choice.device;
}

void listDevices() {
    MidiOutput output(systemBackends({}, kJackOpenLimit));
    if (output.countDevices() == 0) throw CliError(kNoDevicesMessage);
    const auto rows = output.setupRows();
    for (size_t row = 0; row < rows.size(); ++row) std::cout << row << "  " << rows[row] << '\n';
}

// While playing, Ctrl-C, SIGTERM and SIGHUP only note the signal; the main thread then
// stops the worker, which sends its final messages and closes the device before the
// program ends. Ctrl-C is the usual way to end a playback and keeps a recording; the
// other two end the command as stopped, without one.
std::atomic<int> interrupted{0};
extern "C" void onInterrupt(int signal) {
    int none = 0;
    interrupted.compare_exchange_strong(none, signal);
}

class ScopedInterruptHandler {
   public:
    ScopedInterruptHandler() {
        interrupted.store(0);
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &sa, &old_[i]);
    }
    ~ScopedInterruptHandler() {
        for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &old_[i], nullptr);
    }

   private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> old_{};
};

// Where the built-in synthesizer records a play --wav: a private folder that is removed
// afterwards. The finished recording is copied into the output, which was opened (and
// checked) before playing began.
class RecordingFolder {
   public:
    RecordingFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarrowin-play-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw CliError("Cannot make a folder for the recording: " + std::string(std::strerror(errno)));
        }
        dir_ = pattern;
    }
    ~RecordingFolder() {
        for (const std::string& name : {file(), file() + ".partial"}) ::unlink(name.c_str());
        ::rmdir(dir_.c_str());
    }
    RecordingFolder(const RecordingFolder&) = delete;
    RecordingFolder& operator=(const RecordingFolder&) = delete;
    std::string file() const { return dir_ + "/recording.wav"; }

   private:
    std::string dir_;
};

void copyRecording(const std::string& recording, ReplacingFile& out, const std::string& name) {
    const int fd = ::open(recording.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw CliError("The built-in synthesizer wrote no recording for " + name);
    std::array<uint8_t, 65536> chunk{};
    ssize_t n = 0;
    while ((n = ::read(fd, chunk.data(), chunk.size())) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || !out.write(chunk.data(), static_cast<size_t>(n))) {
            const std::string why = n < 0 ? std::strerror(errno) : out.error();
            ::close(fd);
            throw CliError("Cannot write " + name + ": " + why);
        }
    }
    ::close(fd);
    writeAndCommit(out, name, nullptr, 0);
}

class FinishListener final : public PlaybackListener {
   public:
    void eventBegins(int index) override { lastEvent.store(index); }
    void playbackFinished(const PlaybackFinish& f) override {
        {
            std::lock_guard lock(mutex_);
            why_ = f.why;
            late_ = lateTicksReport(f);
        }
        stoppedItself.store(f.stoppedItself);
        done.store(true);
    }
    void takeRecorded(PerformanceTake t) override {
        std::lock_guard lock(mutex_);
        take_ = std::move(t);
    }
    PerformanceTake take() {
        std::lock_guard lock(mutex_);
        return take_;
    }
    // What the sync says (waiting for the master, the master gone) goes out at once.
    void syncNotice(const std::string& text) override {
        std::lock_guard lock(mutex_);
        std::cerr << (isatty(STDERR_FILENO) == 1 ? "\r" : "") << text << '\n' << std::flush;
    }
    std::string why() {
        std::lock_guard lock(mutex_);
        return why_;
    }
    std::string late() {
        std::lock_guard lock(mutex_);
        return late_;
    }
    std::atomic<int> lastEvent{-1};
    std::atomic<bool> stoppedItself{false};
    std::atomic<bool> done{false};

   private:
    std::mutex mutex_;
    std::string why_;
    std::string late_;
    PerformanceTake take_;
};

std::string clockText(std::chrono::steady_clock::duration d) {
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(d).count() / 100;
    char text[32];
    const long long t = tenths;
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", t / 600, t / 10 % 60, t % 10);
    return text;
}

// OSC remote control of a play (--osc): the requests the server's thread queues are
// applied on the main thread between its looks at the play. A play's document is the one
// read: what the rules allow while it plays is a voice switched on or off, Stop and State;
// with --edit-while-playing a live play of the current settings also takes the voices'
// settings and the tempo, as the window's Edit While Playing does.
class PlayRemote {
   public:
    PlayRemote(int port, int answerPort, bool editWhilePlaying) : editWhilePlaying_(editWhilePlaying) {
        std::string error;
        server_ = remote::OscServer::start({static_cast<uint16_t>(port), false, static_cast<uint16_t>(answerPort)},
                                           queue_, [this] { wake(); }, error);
        if (!server_) throw CliError("--osc: " + error);
    }

    // Waits up to `most` for a request to arrive.
    void wait(std::chrono::milliseconds most) {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, most, [this] { return waiting_; });
        waiting_ = false;
    }

    // Applies what waits; true when one of the requests was Stop.
    bool apply(Player& player, CTarrowinDoc& doc, bool composition, bool locked) {
        bool stop = false;
        for (const remote::Incoming& in : queue_.take(remote::RequestQueue::kMaxWaiting)) {
            const bool playing = player.isPlaying();
            const remote::PlayState state{playing,  false, composition, player.coolingDown(), locked,
                                          !doc.composition().isEmpty(), editWhilePlaying_ && playing && !composition};
            const remote::Request& r = in.request;
            if (r.kind == remote::RequestKind::State) {
                server_->answerState(in.from, remote::stateReport(doc, state, composition, player.position(),
                                                                  player.currentEvent()));
            } else if (r.kind == remote::RequestKind::Stop) {
                stop = true;
            } else if (const auto why = remote::refusal(r, doc, state)) {
                server_->answerError(in.from, *why);
            } else if (r.kind == remote::RequestKind::VoiceOn) {
                if (const auto edit = remote::editFor(r, doc)) edit->apply(doc);
                player.setVoiceOn(r.voice, r.value != 0);
            } else if (state.liveEditing && isSetting(r.kind)) {
                // The worker takes the edited settings at the top of its next tick.
                if (const auto edit = remote::editFor(r, doc)) {
                    edit->apply(doc);
                    player.publishSettings(doc.current());
                }
            } else {
                server_->answerError(in.from, editWhilePlaying_
                                                  ? "tarrowin-cli changes only the settings of a play of the current settings"
                                                  : "tarrowin-cli plays the document as it was read: the window changes it");
            }
        }
        return stop;
    }

   private:
    void wake() {
        std::lock_guard lock(mutex_);
        waiting_ = true;
        woken_.notify_one();
    }

    static bool isSetting(remote::RequestKind kind) {
        return kind == remote::RequestKind::Tempo || kind == remote::RequestKind::VoiceSetting;
    }

    const bool editWhilePlaying_;
    remote::RequestQueue queue_;
    std::unique_ptr<remote::OscServer> server_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool waiting_ = false;
};

struct PlayArgs {
    std::string in;
    std::string device = "0";
    std::string mode = "current";
    int fromEvent = 0;
    bool lock = false;
    std::string wav;
    std::string record;
    std::string soundFont;
    int percussionChannel = kDefaultPercussionChannel;
    double delay = 0;
    std::optional<int64_t> seed;
    int osc = 0;        // 0: no remote control
    int oscAnswers = 0;  // 0: answers go to the sender's port
    bool editWhilePlaying = false;
    std::string sync = "internal";
    bool midiClock = false;
    std::string clockIn;
};

void playDocument(const PlayArgs& a) {
    if (!a.clockIn.empty() && a.sync != "clock") throw CliError("--clock-in needs --sync clock");
    // A recording's target is checked, and refused, before anything plays.
    ReplacingFile wavOut, recordOut;
    if (!a.wav.empty() && !a.record.empty() && (a.wav == a.record || sameFile(a.wav, a.record)))
        throw CliError("--wav and --record cannot both write " + a.wav);
    if (!a.wav.empty()) openOutput(wavOut, a.wav, {a.in});
    if (!a.record.empty()) openOutput(recordOut, a.record, {a.in});
    CTarrowinDoc doc = readDocument(a.in);
    const bool composition = a.mode == "composition";
    if (composition && doc.composition().isEmpty()) throw CliError("The document has no composition to play");
    if (composition && (a.fromEvent < 0 || a.fromEvent > doc.composition().lastIndex())) {
        throw CliError("There is no event " + std::to_string(a.fromEvent) + ": the composition has events 0 to " +
                       std::to_string(doc.composition().lastIndex()));
    }

    // The players make their runs themselves: the seed reaches them as the runs' default.
    if (a.seed) setDefaultRunLengthSeed(static_cast<uint64_t>(*a.seed));
    ScopedInterruptHandler interrupts;
    std::optional<RecordingFolder> recording;
    if (!a.wav.empty()) recording.emplace();

    SynthOptions synth;
    synth.soundFont = a.soundFont;
    if (recording) synth.wavFile = recording->file();
    MidiOutput output(systemBackends(synth, kJackOpenLimit));
    if (output.countDevices() == 0) throw CliError(kNoDevicesMessage);
    const int32_t device = resolveDevice(output, a.device);
    const bool onSynth = device == MidiOutput::kMidiMapper || output.deviceName(device) == SynthBackend::kPortName;
    if (!a.wav.empty() && !onSynth) throw CliError("--wav records the built-in synthesizer: choose device 0 or 1");
    output.chooseDevice(device);
    output.setPercussionChannel(a.percussionChannel);
    std::optional<PlayRemote> remote;
    if (a.osc != 0) remote.emplace(a.osc, a.oscAnswers, a.editWhilePlaying);

    if (a.delay > 0) {
        // Opening makes a virtual port appear, and it stays when closed: during the delay
        // other programs can connect to it before the first note.
        if (const OpenResult r = output.open(); !r.ok()) throw CliError(r.message);
        output.close();
        std::cerr << "Device: " << output.deviceName(device) << "; playing in " << a.delay << " s\n";
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(a.delay);
        while (interrupted.load() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
    }

    // The listener outlives the player, whose cooldown thread may still report to it.
    FinishListener listener;
    Player player(output);
    player.setListener(&listener);
    player.setRecording(!a.record.empty());
    PlayRequest request = composition ? PlayRequest::composition(doc, a.fromEvent) : PlayRequest::live(doc, a.lock);
    request.sync.mode = syncModeNamed(a.sync).value_or(SyncMode::Internal);
    request.sync.clockOut = a.midiClock;
    request.sync.clockIn = a.clockIn;
    const PlayResult started = player.play(std::move(request));
    if (!started.started()) {
        const bool noAudio = onSynth && started.message.find("no audio output") != std::string::npos;
        throw CliError(started.message +
                       (noAudio ? "\nUse --wav FILE to record the playback, or render to write it faster than real time"
                                : ""));
    }

    const bool terminal = stderrIsTerminal();
    const auto t0 = std::chrono::steady_clock::now();
    if (!terminal) std::cerr << "Playing on " << output.deviceName(device) << '\n';
    bool stopping = false;
    while (!listener.done.load()) {
        if (remote && remote->apply(player, doc, composition, a.lock) && !stopping) {
            player.stop();
            stopping = true;
        }
        if (interrupted.load() != 0 && !stopping) {
            player.stop();
            stopping = true;
        }
        if (terminal) {
            std::ostringstream line;
            line << "\r" << (stopping ? "Stopping" : "Playing") << " on " << output.deviceName(device) << "  ";
            if (composition) {
                const int e = std::max(player.currentEvent(), a.fromEvent);
                const GlobalSettings& g = doc.composition().event(e).global;
                line << "event " << e << " of " << doc.composition().lastIndex() << " [" << g.startCounter << " -> "
                     << g.endCounter << "]  ";
            }
            line << "tick " << player.position();
            if (!composition) line << "  End " << player.endCounter();
            line << "  " << clockText(std::chrono::steady_clock::now() - t0) << "   ";
            std::cerr << line.str() << std::flush;
        }
        if (remote)
            remote->wait(50ms);
        else
            std::this_thread::sleep_for(50ms);
    }
    player.waitForWorker();
    if (terminal) std::cerr << '\n';
    if (const std::string why = listener.why(); !why.empty()) std::cerr << why << '\n';
    std::cerr << (listener.stoppedItself.load() ? "Finished" : "Stopped") << " after "
              << clockText(std::chrono::steady_clock::now() - t0);
    if (!composition) std::cerr << "; End counter " << player.endCounter();
    std::cerr << '\n';
    if (const std::string late = listener.late(); !late.empty()) std::cerr << late << '\n';
    output.close();  // the synthesizer completes its recording
    if (const int signal = interrupted.load(); signal == SIGTERM || signal == SIGHUP) {
        std::string unwritten;
        for (const std::string* name : {&a.wav, &a.record}) {
            if (!name->empty()) unwritten += "; " + *name + " was not written";
        }
        throw CliError(std::string(signal == SIGTERM ? "Terminated" : "Hung up") + unwritten, 128 + signal);
    }
    if (!a.record.empty()) {
        std::string error;
        const std::vector<uint8_t> bytes = takeToMidi(listener.take(), error);
        if (bytes.empty()) throw CliError("Cannot write " + a.record + ": " + error);
        writeAndCommit(recordOut, a.record, bytes.data(), bytes.size());
        if (a.record != "-") std::cerr << "Wrote " << a.record << '\n';
    }
    if (!recording) return;
    copyRecording(recording->file(), wavOut, a.wav);
    if (a.wav != "-") std::cerr << "Wrote " << a.wav << '\n';
}

struct RenderArgs {
    std::string in;
    std::string out;
    std::string mode;
    std::string soundFont;
    double tail = 1.0;
    int percussionChannel = kDefaultPercussionChannel;
    std::optional<int64_t> seed;
    std::string stems;
};

void renderDocument(const RenderArgs& a) {
    // The same rule as the window's Export Audio: a name ending in .flac is written as FLAC.
    const AudioFormat format = audioFormatFor(a.out).value_or(AudioFormat::Wav);
    if (a.stems == "-") throw CliError("The stems go into a folder: --stems cannot be the standard output");
    for (int v = 0; !a.stems.empty() && v < kStems; ++v) {
        refuseInputAsOutput(a.stems + "/" + stemFileName(v, format), {a.in});
    }
    ReplacingFile file;
    openOutput(file, a.out, {a.in});
    CTarrowinDoc doc = readDocument(a.in);
    const bool composition = a.mode.empty() ? !doc.composition().isEmpty() : a.mode == "composition";
    // The same refusals as the MIDI file export, whose stream is rendered.
    if (const ExportResult check = checkExport(doc, composition ? ExportMode::Composition : ExportMode::CurrentSettings);
        !check.ok) {
        throw CliError(check.message);
    }

    RenderOptions options;
    options.soundFont = a.soundFont;
    options.tailSeconds = a.tail;
    options.percussionChannel = a.percussionChannel;
    options.seed = a.seed;
    options.tuning = doc.sharedTuning();
    options.format = format;
    options.stemsFolder = a.stems;
    const bool terminal = stderrIsTerminal();
    int shown = -1;
    const auto progress = [&](double f) {
        const int percent = static_cast<int>(f * 100);
        if (!terminal || percent == shown) return;
        shown = percent;
        std::cerr << "\rRendering " << a.out << "  " << percent << "%" << std::flush;
    };
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<Settings>& events = doc.composition().events();
    const RenderResult r = renderToAudio(composition ? PerformanceMode::ExportComposition : PerformanceMode::ExportCurrent,
                                       doc.current(), events, file, options, progress);
    if (terminal && shown >= 0) std::cerr << '\n';
    if (!r.ok) throw CliError(r.message);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::cerr << "Wrote " << (a.out == "-" ? std::string("the standard output") : a.out) << ": " << clockText(std::chrono::milliseconds(r.frames * 1000 / options.sampleRate))
              << " of audio with " << r.soundFont << ", rendered in " << took << " s\n";
    if (!a.stems.empty()) {
        std::cerr << "Wrote into " << a.stems << ": "
                  << (r.stems.empty() ? std::string("nothing, since no voice sounds") : stemFileName(r.stems[0], format));
        for (size_t i = 1; i < r.stems.size(); ++i) std::cerr << ", " << stemFileName(r.stems[i], format);
        std::cerr << '\n';
    }
}

void setup(CLI::App& app) {
    auto* devices = app.add_subcommand("devices", "List the MIDI output devices, numbered as \"MidiOut Setup\" numbers them");
    devices->callback(listDevices);

    static PlayArgs play;
    auto* p = app.add_subcommand("play", "Play a document in real time on a MIDI output device (Ctrl-C stops)");
    p->add_option("IN.trw", play.in, "The document file to play")->required();
    p->add_option("--device", play.device,
                  "The device: its number in tarrowin-cli devices (0 = Midi Mapper, the built-in synthesizer) or its name")
        ->capture_default_str();
    p->add_option("--mode", play.mode, "Play the current settings or the composition")
        ->check(CLI::IsMember({"current", "composition"}))
        ->capture_default_str();
    p->add_option("--from-event", play.fromEvent, "Composition: the event to play from")->capture_default_str();
    p->add_flag("--lock", play.lock, "Current settings: stop at the End counter (Lock on); else play until Ctrl-C");
    p->add_option("--wav", play.wav,
                  "Built-in synthesizer: record the playback into this WAV file instead of a sound card (- for the "
                  "standard output)");
    p->add_option("--record", play.record,
                  "Write what reaches the device into this MIDI file when the play ends (also after Ctrl-C; - for "
                  "the standard output)");
    p->add_option("--soundfont", play.soundFont, "Built-in synthesizer: the SoundFont (else $TARROWIN_SOUNDFONT or the system's GM SoundFont)");
    p->add_option("--percussion-channel", play.percussionChannel, "The channel of the percussion voices (0..15)")
        ->check(CLI::Range(0, 15))
        ->capture_default_str();
    p->add_option("--delay", play.delay, "Seconds to wait with the device open before playing (to connect a virtual port)")
        ->check(finiteRange(0.0, 3600.0));
    addRunSeedOption(p, play.seed);
    auto* osc = p->add_option("--osc", play.osc,
                              "Listen for OSC remote control on this UDP port of 127.0.0.1 while playing "
                              "(/tarrowin/stop, /tarrowin/state, /tarrowin/voice/N/on)")
                    ->check(CLI::Range(1024, 65535));
    p->add_option("--osc-answers", play.oscAnswers,
                  "The port /tarrowin/state and /tarrowin/error answers go to (else the port each message came from)")
        ->check(CLI::Range(1024, 65535))
        ->needs(osc);
    p->add_flag("--edit-while-playing", play.editWhilePlaying,
                "With --osc, a play of the current settings takes the tempo and the voices' settings sent to it "
                "(/tarrowin/tempo, /tarrowin/voice/N/...) from its next tick")
        ->needs(osc);
    p->add_option("--sync", play.sync,
                  "Where the ticks come from: internal (Tarrowin's own clock), jack (follow the JACK transport: wait "
                  "until it rolls, end when it stops), master (lead the JACK transport), clock (follow a MIDI clock)")
        ->check(CLI::IsMember({"internal", "jack", "master", "clock"}))
        ->capture_default_str();
    p->add_flag("--midi-clock", play.midiClock, "Send MIDI clock (24 a quarter note, Start/Continue/Stop) on the device");
    p->add_option("--clock-in", play.clockIn,
                  "The MIDI port whose clock to follow (a JACK output port, or \"ALSA: name\"); without it other "
                  "programs connect to \"Tarrowin clock in\" (with --sync clock)");
    p->callback([] { playDocument(play); });

    static RenderArgs render;
    auto* r = app.add_subcommand("render", "Render a document through the built-in synthesizer into a WAV or FLAC file");
    r->add_option("IN.trw", render.in, "The document file to render")->required();
    r->add_option("OUT.wav", render.out, "The WAV file to write, or FLAC for a name ending in .flac (- for the standard output, as WAV)")->required();
    r->add_option("--mode", render.mode, "The current settings or the composition (default: the composition if there is one)")
        ->check(CLI::IsMember({"current", "composition"}));
    r->add_option("--soundfont", render.soundFont, "The SoundFont (else $TARROWIN_SOUNDFONT or the system's GM SoundFont)");
    r->add_option("--tail", render.tail, "Seconds of audio after the last tick, for the last notes to ring out")
        ->check(finiteRange(0.0, 60.0))
        ->capture_default_str();
    addRunSeedOption(r, render.seed);
    r->add_option("--percussion-channel", render.percussionChannel, "The channel of the percussion voices (0..15)")
        ->check(CLI::Range(0, 15))
        ->capture_default_str();
    r->add_option("--stems", render.stems,
                  "Also write each voice that sounds into a file of its own in this folder (voice-01.wav ..., dry) "
                  "and the reverb and chorus into effects.wav, in OUT's format (the folder is made if missing); "
                  "they add up to OUT");
    r->callback([] { renderDocument(render); });
}

const CommandRegistration registration(40, setup);

}  // namespace
}  // namespace tarrowin::cli
