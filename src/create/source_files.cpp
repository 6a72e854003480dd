#include "create/source_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "core/path.h"

namespace vantrove {

bool AddFolderFiles(const std::string& folder, std::vector<CreationSourceFile>& out,
                    std::string& error) {
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) {
        error = "cannot read the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
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

std::string TidyAbsolutePath(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        const std::string current = CurrentFolder();
        absolute = (current.empty() ? std::string("./") : current) + path;
    }
    std::string tidy;
    size_t start = 0;
    while (start <= absolute.size()) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos) end = absolute.size();
        const std::string part = absolute.substr(start, end - start);
        if (!part.empty() && part != ".") tidy += "/" + part;
        start = end + 1;
    }
    return tidy.empty() ? std::string("/") : tidy;
}

std::vector<CreationSourceFile> WithFilesAdded(const std::vector<CreationSourceFile>& listed,
                                               const std::vector<std::string>& paths, bool& added) {
    std::set<std::string> known;
    for (const CreationSourceFile& file : listed) known.insert(file.path);
    std::vector<CreationSourceFile> all = listed;
    added = false;
    for (const std::string& given : paths) {
        if (given.empty()) continue;
        const std::string path = TidyAbsolutePath(given);
        if (known.count(path) != 0) continue;
        struct stat st {};
        uint64_t size = 0;
        if (stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                std::vector<CreationSourceFile> below;
                std::string error;
                AddFolderFiles(path.back() == '/' ? path : path + "/", below, error);
                for (CreationSourceFile& file : below) {
                    if (known.insert(file.path).second) all.push_back(std::move(file));
                }
                continue;
            }
            size = static_cast<uint64_t>(st.st_size);
        }
        known.insert(path);
        all.push_back({path, size, {}});
    }
    added = all.size() > listed.size();
    std::stable_sort(all.begin(), all.end(),
                     [](const CreationSourceFile& a, const CreationSourceFile& b) {
                         return LessNoCase(a.path, b.path);
                     });
    return all;
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
