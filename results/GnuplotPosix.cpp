// Charts drawn where programs can be started: gnuplot runs on the chart's
// script, written to a temporary file.
#include "results/Gnuplot.h"

#include <cerrno>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/Text.h"
#include "export/TextEncoding.h"
#include "runner/SaveFileName.h"

extern char** environ;

namespace {

// The last line gnuplot wrote that says something, without its script position.
std::string GnuplotReason(const std::string& errors) {
    std::istringstream in(errors);
    std::string reason;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t^\r") == std::string::npos) continue;
        reason = line;
    }
    const size_t position = reason.find(" line ");
    const size_t colon = reason.find(": ", position == std::string::npos ? 0 : position);
    if (position != std::string::npos && colon != std::string::npos) reason = reason.substr(colon + 2);
    return "gnuplot: " + OneLine(reason.empty() ? std::string("failed without a message") : reason);
}

}  // namespace

std::string RunGnuplot(const std::string& gnuplot, const std::string& script, const std::string& svgPath) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) folder = "/tmp";
    std::string scriptPath = (folder / "vantrel-chart-XXXXXX").string();
    const int scriptFile = mkstemp(scriptPath.data());
    if (scriptFile < 0) return ChartFailure(svgPath, "cannot write the chart's script: " + SystemReason(errno));
    size_t written = 0;
    while (written < script.size()) {
        const ssize_t n = write(scriptFile, script.data() + written, script.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += size_t(n);
    }
    const int writeError = written == script.size() ? 0 : errno;
    close(scriptFile);
    struct ScriptRemover {
        std::string path;
        ~ScriptRemover() { unlink(path.c_str()); }
    } remover{scriptPath};
    if (writeError != 0 || written != script.size()) {
        return ChartFailure(svgPath, "cannot write the chart's script: " + SystemReason(writeError != 0 ? writeError : EIO));
    }

    int errors[2];
    if (pipe(errors) != 0) return ChartFailure(svgPath, "cannot start gnuplot: " + SystemReason(errno));
    fcntl(errors[0], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    posix_spawn_file_actions_addclose(&actions, errors[1]);
    std::string program = gnuplot;
    char* argv[] = {program.data(), scriptPath.data(), nullptr};
    pid_t child = 0;
    const std::string notInstalled = gnuplot + " is not installed; install it with \"apt-get install gnuplot-nox\"";
    const int spawned = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(errors[1]);
    if (spawned != 0) {
        close(errors[0]);
        if (spawned == ENOENT) return ChartFailure(svgPath, notInstalled);
        return ChartFailure(svgPath, "cannot start " + gnuplot + ": " + SystemReason(spawned));
    }
    std::string messages;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(errors[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        messages.append(buffer, size_t(n));
    }
    close(errors[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    // posix_spawn may report a program it could not run by the child's exit
    // status 127 instead of an error (qemu-user's, for one, always does).
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && messages.empty()) return ChartFailure(svgPath, notInstalled);
    // No half-drawn chart is left looking like a whole one.
    std::filesystem::remove(FilePathOf(svgPath), error);
    return ChartFailure(svgPath, GnuplotReason(messages));
}

bool ChartsAvailable() { return true; }
