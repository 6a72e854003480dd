#include "shell_test_support.h"

#include <filesystem>

namespace vantrove::test {

void PutFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, text);
}

FakeDesktop::FakeDesktop() {
    environment.dataHome = root.File("data");
    environment.configHome = root.File("config");
    environment.dataDirs = {root.File("system")};
    environment.configDirs = {root.File("etc")};
    environment.executablePath = root.File("bin dir/vantrove");
    PutFile(root.File("system/mime/globs2"),
            "# comment line\n50:application/x-par2:*.par2\n50:text/plain:*.txt\n");
}

std::string FakeDesktop::Read(const std::string& path) const {
    if (!FileExists(path)) return std::string();
    std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void FakeDesktop::AddSystemEntry(const std::string& id, const std::string& exec) {
    PutFile(root.File("system/applications/" + id),
            "[Desktop Entry]\nType=Application\nName=Other\nExec=" + exec + "\n");
}

}  // namespace vantrove::test
