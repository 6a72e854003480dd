#pragma once
// CommandLine: the parsed arguments of one start of the program.
//
// Arguments come as the C runtime splits them (argv without the program
// name). One that begins with '-' is a switch whose word is the rest of the
// argument, compared without regard to case; "create", "open" and "list" have
// a meaning, other words are ignored. Since absolute paths begin with '/',
// an argument that begins with '/' is a switch only when its word is one of
// those three ("/create", "/LIST"); otherwise it is a file name. Everything
// else is a file name. The forms other programs use:
//
//     vantrove <recovery or checksum file>          verify that set
//     vantrove /create <file> [<file> ...]          create with those files
//     vantrove /create /list <list file>            create with the files
//                                                   listed, one per line
//
// A list file is read whole and deleted afterwards. The object is built
// fresh at each start on the main thread and discarded after start-up.

#include <string>
#include <vector>

namespace vantrove {

enum class ShellCommand { CreateFiles, OpenSet };

class CommandLine {
  public:
    // Parses `arguments` in order and decides shellCommand.
    void Parse(const std::vector<std::string>& arguments);
    // The same from main()'s argv (argv[0] is skipped).
    void Parse(int argc, const char* const* argv);

    ShellCommand shellCommand = ShellCommand::CreateFiles;
    std::string firstFileName;  // the first argument that is not a switch
    bool createSwitch = false;
    bool openSwitch = false;
    bool listPending = false;            // "list" seen, its file name not yet
    std::vector<std::string> fileNames;  // the files for creation, in order

  private:
    void HandleArgument(const std::string& argument);
    void Decide();

    bool sawFileName_ = false;
};

// Reads a list file: opened for reading and writing and locked against other
// users (a file someone else holds is left alone), read whole, split at line
// feeds only (a carriage return stays in the name), empty lines dropped. The
// file is deleted afterwards whether or not the read worked. Returns false,
// and touches nothing, when the file cannot be opened.
bool ReadListFile(const std::string& path, std::vector<std::string>& names);

}  // namespace vantrove
