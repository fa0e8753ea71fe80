// tarrowin-cli: the program's documents, exports, playback and reports without a window.

#include <CLI/CLI.hpp>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

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
    CLI::App app{"Tarrowin " TARROWIN_VERSION ": fractal and chaotic note sequences as music, without a window",
                 "tarrowin-cli"};
    app.set_version_flag("--version", "tarrowin-cli " TARROWIN_VERSION, "Print the version and exit");
    app.require_subcommand(1);
    tarrowin::cli::setupCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return checkStandardOutput(app.exit(e));
    } catch (const tarrowin::cli::CliError& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return checkStandardOutput(e.code);
    } catch (const std::exception& e) {
        std::cerr << "tarrowin-cli: " << e.what() << "\n";
        return checkStandardOutput(1);
    }
    return checkStandardOutput(0);
}
