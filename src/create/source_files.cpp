#include "create/source_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "core/path.h"

namespace vantrove {

bool AddFolderFiles(const std::string& folder, std::vector<CreationSourceFile>& out,
                    std::string& error) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = "cannot read the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            if (!AddFolderFiles(path + "/", out, error)) return false;
        } else if (S_ISREG(st.st_mode)) {
            out.push_back({path, static_cast<uint64_t>(st.st_size), {}});
        }
    }
    return true;
}

std::string StoredNameBelow(const std::string& path, const std::string& folder) {
    if (!folder.empty() && path.size() > folder.size() &&
        path.compare(0, folder.size(), folder) == 0) {
        return path.substr(folder.size());
    }
    return FileNameOfPath(path);
}

bool FindStoredNameClash(const std::vector<CreationSourceFile>& files, std::string& name,
                         std::string& first, std::string& second) {
    std::map<std::string, const std::string*> byName;
    for (const CreationSourceFile& file : files) {
        const std::string stored =
            file.storedName.empty() ? StoredNameBelow(file.path, {}) : file.storedName;
        auto [it, added] = byName.emplace(stored, &file.path);
        if (!added) {
            name = stored;
            first = *it->second;
            second = file.path;
            return true;
        }
    }
    return false;
}

}  // namespace vantrove
