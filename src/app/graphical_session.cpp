#include "app/graphical_session.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace vantrove {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Runs `cliPath --help` with its output on `out`; false when it could not.
bool ShowCliForms(std::FILE* out, const std::string& cliPath) {
    if (cliPath.empty() || access(cliPath.c_str(), X_OK) != 0) return false;
    std::fflush(out);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The usage text goes to standard error; both go where `out` goes.
    posix_spawn_file_actions_adddup2(&actions, fileno(out), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), STDERR_FILENO);
    char* argv[] = {const_cast<char*>(cliPath.c_str()), const_cast<char*>("--help"), nullptr};
    pid_t child = 0;
    const int rc = posix_spawn(&child, cliPath.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool GraphicalSessionAvailable(const std::vector<std::string>& arguments) {
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM")) return true;
    for (const std::string& argument : arguments) {
        if (argument == "-platform" || argument == "--platform" ||
            argument.rfind("-platform=", 0) == 0)
            return true;
    }
    return false;
}

int ReportNoGraphicalSession(std::FILE* out, const std::string& cliPath) {
    std::fprintf(out,
                 "Vantrove: il programma desktop ha bisogno di una sessione grafica (X11 o "
                 "Wayland),\nma DISPLAY e WAYLAND_DISPLAY non sono impostati.\n"
                 "Senza finestre si usa il programma a riga di comando, vantrove-cli:\n\n");
    if (!ShowCliForms(out, cliPath))
        std::fprintf(out, "  vantrove-cli --help   (le forme dei comandi)\n");
    std::fflush(out);
    return 2;
}

}  // namespace vantrove
