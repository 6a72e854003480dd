#include "app/desktop_entry_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/path.h"

namespace vantrove {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

void DesktopEntryFile::Parse(std::string_view text) {
    lines_.clear();
    std::string group;
    for (std::string_view lineText : LinesOf(text)) {
        Line line;
        line.text = std::string(lineText);
        std::string_view body = Trim(line.text);
        if (!body.empty() && body.front() == '[' && body.back() == ']') {
            group = std::string(body.substr(1, body.size() - 2));
        } else if (!body.empty() && body.front() != '#') {
            size_t eq = body.find('=');
            if (eq != std::string_view::npos && eq > 0) {
                line.key = std::string(Trim(body.substr(0, eq)));
                line.value = std::string(Trim(body.substr(eq + 1)));
            }
        }
        line.group = group;
        lines_.push_back(std::move(line));
    }
}

std::string DesktopEntryFile::Serialize() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += '\n';
    }
    return text;
}

bool DesktopEntryFile::HasGroup(std::string_view group) const {
    for (const Line& line : lines_) {
        std::string_view body = Trim(line.text);
        if (line.group == group && !body.empty() && body.front() == '[') return true;
    }
    return false;
}

bool DesktopEntryFile::Get(std::string_view group, std::string_view key, std::string& value) const {
    for (const Line& line : lines_) {
        if (!line.key.empty() && line.group == group && line.key == key) {
            value = line.value;
            return true;
        }
    }
    return false;
}

void DesktopEntryFile::Set(std::string_view group, std::string_view key, std::string_view value) {
    std::string text = std::string(key) + "=" + std::string(value);
    for (Line& line : lines_) {
        if (!line.key.empty() && line.group == group && line.key == key) {
            line.text = text;
            line.value = std::string(value);
            return;
        }
    }
    // After the last line of the group that is not blank, or as a new group.
    size_t insertAt = lines_.size();
    bool found = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].group == group && !Trim(lines_[i].text).empty()) {
            insertAt = i + 1;
            found = true;
        }
    }
    if (!found || !HasGroup(group)) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) {
            lines_.push_back(Line{"", lines_.back().group, "", ""});
        }
        lines_.push_back(Line{"[" + std::string(group) + "]", std::string(group), "", ""});
        insertAt = lines_.size();
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                  Line{text, std::string(group), std::string(key), std::string(value)});
}

bool DesktopEntryFile::Remove(std::string_view group, std::string_view key) {
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!lines_[i].key.empty() && lines_[i].group == group && lines_[i].key == key) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

std::vector<std::string> DesktopEntryFile::Keys(std::string_view group) const {
    std::vector<std::string> keys;
    for (const Line& line : lines_) {
        if (!line.key.empty() && line.group == group) keys.push_back(line.key);
    }
    return keys;
}

std::vector<std::string> SplitDesktopList(std::string_view value) {
    std::vector<std::string> items;
    for (std::string_view part : SplitAt(value, ';')) {
        std::string_view item = Trim(part);
        if (!item.empty()) items.emplace_back(item);
    }
    return items;
}

std::string JoinDesktopList(const std::vector<std::string>& items) {
    std::string value;
    for (const std::string& item : items) value += item + ";";
    return value;
}

bool ReadToEnd(int fd, std::string& text, size_t limit) {
    char buffer[65536];
    while (text.size() <= limit) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool ReadTextFile(const std::string& path, std::string& text) {
    // Not blocking: a named pipe in place of a file must not stop the
    // program until someone writes to it; it is refused below.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    text.clear();
    const bool read = ReadToEnd(fd, text);
    close(fd);
    return read;
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) {
        return false;
    }
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

bool WriteTextFileAtomically(const std::string& path, std::string_view text, unsigned mode) {
    const std::string folder = ParentFolderOf(path);
    if (folder == "." || folder == "/" || !MakeFolders(folder)) return false;
    std::string temporary = FolderOfPath(path) + "." + FileNameOfPath(path) + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

}  // namespace vantrove
