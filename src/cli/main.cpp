// tarrowin-cli: the program's documents, exports, playback and reports without a window.

#include <CLI/CLI.hpp>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "command_registry.h"
#include "document/replacing_file.h"

namespace {

bool g_stderrIsTerminal = false;

void say(const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

void sayUnwritten(const char* target) {
    say("; ");
    say(target);
    say(" was not written");
}

// Ctrl-C, SIGTERM and SIGHUP end a command at once, wherever it is: the file it was
// writing has no name yet (or its temporary name is removed here), so nothing is left
// behind and an older file stays as it was. Commands that must stop more gently (play)
// put their own handler in place while they run.
extern "C" void onStopSignal(int signal) {
    if (g_stderrIsTerminal) say("\r\033[K");
    say(signal == SIGINT ? "tarrowin-cli: Interrupted" : signal == SIGTERM ? "tarrowin-cli: Terminated" : "tarrowin-cli: Hung up");
    tarrowin::ReplacingFile::removeTemporaryNames(sayUnwritten);
    say("\n");
    ::_exit(128 + signal);
}

void installSignalHandlers() {
    g_stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop.sa_mask, s);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &stop, nullptr);
    // Past a file size limit, or into a pipe whose reader has gone, a write fails with a
    // reason that is reported, instead of killing the command mid-file.
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

// Memory kept back for the moment an allocation fails. The failure frees it and goes on
// as a std::bad_alloc, so that what runs while the command unwinds finds memory: some
// destructors allocate (the JSON library's take a list of a value's children), and a
// second failure inside one would end the program with SIGABRT instead of a message.
constexpr size_t kReservedMemory = 4u << 20;
std::atomic<void*> g_reservedMemory{nullptr};

void onAllocationFailure() {
    if (void* reserve = g_reservedMemory.exchange(nullptr)) std::free(reserve);
    throw std::bad_alloc();
}

void reserveMemory() {
    g_reservedMemory.store(std::malloc(kReservedMemory));
    std::set_new_handler(onAllocationFailure);
}

// What the command that ran out of memory was doing, in its own words: its description,
// "Print a document file ... as JSON", as "print a document file ... as JSON".
std::string taskOf(const CLI::App& app) {
    const CLI::App* command = &app;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    std::string task = command == &app ? std::string("start") : command->get_description();
    if (!task.empty()) task.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(task.front())));
    return task;
}

// What a command printed must have reached the standard output.
int checkStandardOutput(int code) {
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) return code;
    const int err = errno;
    std::cerr << "tarrowin-cli: Cannot write to the standard output: " << std::strerror(err != 0 ? err : EIO) << "\n";
    return code == 0 ? 1 : code;
}

}  // namespace

int main(int argc, char** argv) {
    installSignalHandlers();
    reserveMemory();
    CLI::App app{"Tarrowin " TARROWIN_VERSION ": fractal and chaotic note sequences as music, without a window",
                 "tarrowin-cli"};
    app.set_version_flag("--version", "tarrowin-cli " TARROWIN_VERSION, "Print the version and exit");
    app.require_subcommand(1);
    tarrowin::cli::setupCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return checkStandardOutput(app.exit(e));
    } catch (const std::bad_alloc&) {
        std::cerr << "tarrowin-cli: Not enough memory to " << taskOf(app) << "\n";
        return checkStandardOutput(1);
    } catch (const tarrowin::cli::CliError& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return checkStandardOutput(e.code);
    } catch (const std::exception& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return checkStandardOutput(1);
    }
    return checkStandardOutput(0);
}
