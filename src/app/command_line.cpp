#include "app/command_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/desktop_entry_file.h"
#include "core/path.h"

namespace vantrove {
namespace {

// A list names files chosen in a file manager; anything near this size is
// not a list, and reading it whole could exhaust memory.
constexpr size_t kMaxListFileBytes = size_t{64} << 20;

bool SameWord(const std::string& word, const char* expected) {
    size_t i = 0;
    for (; i < word.size() && expected[i] != '\0'; ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != expected[i]) return false;
    }
    return i == word.size() && expected[i] == '\0';
}

bool IsSwitch(const std::string& argument) {
    if (argument.empty()) return false;
    if (argument[0] == '-') return true;
    if (argument[0] != '/') return false;
    // Every absolute path begins with a slash here, so only the three known
    // words make a slash argument a switch; "/home/x.par2" is a file name.
    std::string word = argument.substr(1);
    return SameWord(word, "create") || SameWord(word, "open") || SameWord(word, "list");
}

}  // namespace

bool ReadListFile(const std::string& path, std::vector<std::string>& names) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Not a plain file, or another program holds it: leave it alone.
        close(fd);
        return false;
    }

    std::string content;
    const bool readOk =
        ReadToEnd(fd, content, kMaxListFileBytes) && content.size() <= kMaxListFileBytes;

    if (readOk) {
        for (std::string_view line : SplitAt(content, '\n')) {
            // A name with a zero byte could never be opened as written; it
            // would name a different, shorter path.
            if (!line.empty() && line.find('\0') == std::string_view::npos) {
                names.emplace_back(line);
            }
        }
    }
    unlink(path.c_str());
    close(fd);
    return true;
}

void CommandLine::Parse(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    Parse(arguments);
}

void CommandLine::Parse(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) HandleArgument(argument);
    Decide();
}

void CommandLine::HandleArgument(const std::string& argument) {
    if (IsSwitch(argument)) {
        std::string word = argument.substr(1);
        if (SameWord(word, "create"))
            createSwitch = true;
        else if (SameWord(word, "open"))
            openSwitch = true;
        else if (SameWord(word, "list"))
            listPending = true;
        return;
    }
    if (!sawFileName_) {
        sawFileName_ = true;
        firstFileName = argument;
    }
    if (listPending) {
        listPending = false;
        ReadListFile(argument, fileNames);
        return;
    }
    fileNames.push_back(argument);
}

void CommandLine::Decide() {
    if (createSwitch)
        shellCommand = ShellCommand::CreateFiles;
    else if (openSwitch)
        shellCommand = ShellCommand::OpenSet;
    else if (!firstFileName.empty())
        shellCommand = ShellCommand::OpenSet;
    else
        shellCommand = ShellCommand::CreateFiles;
}

}  // namespace vantrove
