#include "app/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/desktop_entry_file.h"
#include "core/path.h"

namespace vantrove {
namespace {

constexpr std::string_view kSignature = "Vantrove Settings Version 1";
constexpr std::string_view kEndMarker = "; end of store";
constexpr std::string_view kFileName = "settings.reg";
constexpr size_t kMaxStoreBytes = 1 << 20;  // a store of ours is a few kilobytes
constexpr auto kLockPatience = std::chrono::seconds(5);

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Key and value names compare without regard to case, as in the registry.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// `path` lies below `parent` (at any depth).
bool IsBelow(std::string_view path, std::string_view parent) {
    if (parent.empty()) return true;
    return path.size() > parent.size() + 1 && path[parent.size()] == '\\' &&
           SameName(path.substr(0, parent.size()), parent);
}

bool UsableKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == ']' || c == '[' || c == '\n' || c == '\r' || c == '\0') return false;
        if (c == '\\' && i + 1 < path.size() && path[i + 1] == '\\') return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendQuoted(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

// Reads a quoted string at the start of `s` and removes it from `s`. False
// when it is not a well-formed quoted string.
bool TakeQuoted(std::string_view& s, std::string& out) {
    out.clear();
    if (s.empty() || s.front() != '"') return false;
    size_t i = 1;
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= s.size()) return false;
        char e = s[i + 1];
        switch (e) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 3 >= s.size()) return false;
                int hi = HexDigit(s[i + 2]), lo = HexDigit(s[i + 3]);
                if (hi < 0 || lo < 0) return false;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return false;
        }
        i += 2;
    }
    return false;
}

// One value line: "name"=dword:0000000a, "name"="text", @=..., or a "hex"
// form kept as raw text. False when the line is malformed.
bool ParseValueLine(std::string_view line, StoreValue& value) {
    value = StoreValue{};
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else if (!TakeQuoted(line, value.name)) {
        return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') return false;
    line = Trim(line.substr(1));
    if (line.substr(0, 6) == "dword:") {
        std::string_view digits = line.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t number = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return false;
            number = number * 16 + static_cast<uint32_t>(d);
        }
        value.type = StoreValueType::Dword;
        value.number = number;
        return true;
    }
    if (!line.empty() && line.front() == '"') {
        if (!TakeQuoted(line, value.text) || !Trim(line).empty()) return false;
        value.type = StoreValueType::String;
        return true;
    }
    if (line.substr(0, 3) == "hex") {
        for (char c : line) {
            if (c == '\n' || c == '\0') return false;
        }
        value.type = StoreValueType::Other;
        value.text = std::string(line);
        return true;
    }
    return false;
}

// Creates `folder` and its missing parents with mode 0700.
bool MakePrivateFolders(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = ParentFolderOf(folder);
    if (parent != folder && parent != "." && !MakePrivateFolders(parent)) return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Renames without ever replacing an existing file.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
    return true;
}

// Moves a file that is not ours out of the way, to the first free name among
// "<store>.foreign", "<store>.foreign.2", ...
bool MoveAside(const std::string& path) {
    for (int n = 1; n < 1000; ++n) {
        std::string target = path + ".foreign";
        if (n > 1) target.append(".").append(std::to_string(n));
        if (RenameNoReplace(path, target)) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// Serialises the read-modify-write of one store between processes: an
// exclusive flock on "<store>.lock" beside it (created once, left in place).
// The lock lives on its own file, not on the folder, so that a repair or
// creation holding its folder lock never keeps the settings from being
// saved, nor the other way round. Also keeps the folder open, so that a
// rename into it can be made durable.
class StoreLock {
  public:
    StoreLock(const std::string& folder, const std::string& lockPath) {
        folderFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd_ < 0) return;
        lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                       0600);
        if (lockFd_ < 0) return;
        auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                close(lockFd_);
                lockFd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~StoreLock() {
        if (lockFd_ >= 0) close(lockFd_);  // closing releases the lock
        if (folderFd_ >= 0) close(folderFd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool locked() const { return folderFd_ >= 0 && lockFd_ >= 0; }
    int folderFd() const { return folderFd_; }

  private:
    int folderFd_ = -1;
    int lockFd_ = -1;
};

}  // namespace

std::string DefaultSettingsStorePath() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return std::string();
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/Vantrove/" + std::string(kFileName);
}

SettingsStore::SettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

StoreReadResult SettingsStore::Read() {
    keys_.clear();
    if (filePath_.empty()) return StoreReadResult::Unavailable;
    int fd = open(filePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? StoreReadResult::Missing : StoreReadResult::Unavailable;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return StoreReadResult::Unavailable;
    }
    std::string text;
    const bool failed = !ReadToEnd(fd, text, kMaxStoreBytes);
    close(fd);
    if (failed) return StoreReadResult::Unavailable;
    if (text.size() > kMaxStoreBytes) {
        // Far too large to be a store of ours, whatever its first line says.
        bool ours = text.compare(0, kSignature.size(), kSignature) == 0;
        return ours ? StoreReadResult::Damaged : StoreReadResult::Foreign;
    }
    return Parse(text);
}

StoreReadResult SettingsStore::Parse(std::string_view text) {
    keys_.clear();
    // A file that is a (possibly empty) beginning of our signature was cut
    // short while being written: damaged, not foreign.
    if (text.size() <= kSignature.size() + 1 &&
        (std::string(kSignature) + "\n").compare(0, text.size(), text) == 0) {
        return StoreReadResult::Damaged;
    }
    size_t first = text.find('\n');
    std::string_view firstLine = text.substr(0, first);
    if (!firstLine.empty() && firstLine.back() == '\r') firstLine.remove_suffix(1);
    if (firstLine != kSignature) return StoreReadResult::Foreign;
    if (first == std::string_view::npos) return StoreReadResult::Damaged;

    std::vector<StoreKey> parsed;
    bool ended = false;
    size_t pos = first + 1;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) return StoreReadResult::Damaged;  // cut mid-line
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (ended) {
            if (!line.empty()) return StoreReadResult::Damaged;
            continue;
        }
        if (line.empty()) continue;
        if (line == kEndMarker) {
            ended = true;
            continue;
        }
        if (line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return StoreReadResult::Damaged;
            std::string_view path = line.substr(1, line.size() - 2);
            if (!UsableKeyPath(path)) return StoreReadResult::Damaged;
            StoreKey* existing = nullptr;
            for (StoreKey& k : parsed) {
                if (SameName(k.path, path)) existing = &k;
            }
            if (existing == nullptr)
                parsed.push_back(StoreKey{std::string(path), {}});
            else {
                // A repeated section continues the key it names.
                StoreKey moved = std::move(*existing);
                parsed.erase(parsed.begin() + (existing - parsed.data()));
                parsed.push_back(std::move(moved));
            }
            continue;
        }
        if (line.front() != '"' && line.front() != '@') return StoreReadResult::Damaged;
        if (parsed.empty()) return StoreReadResult::Damaged;  // a value outside any key
        StoreValue value;
        if (!ParseValueLine(line, value)) return StoreReadResult::Damaged;
        std::vector<StoreValue>& values = parsed.back().values;
        bool replaced = false;
        for (StoreValue& v : values) {
            if (SameName(v.name, value.name)) {
                v = value;  // the last line for a name wins
                replaced = true;
            }
        }
        if (!replaced) values.push_back(std::move(value));
    }
    if (!ended) return StoreReadResult::Damaged;  // truncated at a line boundary
    keys_ = std::move(parsed);
    return StoreReadResult::Loaded;
}

std::string SettingsStore::Serialize() const {
    std::string out(kSignature);
    out += "\n";
    for (const StoreKey& key : keys_) {
        out += "\n[" + key.path + "]\n";
        for (const StoreValue& v : key.values) {
            if (v.name.empty())
                out += '@';
            else
                AppendQuoted(out, v.name);
            out += '=';
            switch (v.type) {
                case StoreValueType::Dword: {
                    char digits[16];
                    std::snprintf(digits, sizeof digits, "dword:%08x", v.number);
                    out += digits;
                    break;
                }
                case StoreValueType::String:
                    AppendQuoted(out, v.text);
                    break;
                case StoreValueType::Other:
                    out += v.text;
                    break;
            }
            out += '\n';
        }
    }
    out += "\n";
    out += kEndMarker;
    out += "\n";
    return out;
}

bool SettingsStore::HasKey(std::string_view path) const {
    for (const StoreKey& k : keys_) {
        if (SameName(k.path, path) || IsBelow(k.path, path)) return true;
    }
    return false;
}

bool SettingsStore::CreateKey(std::string_view path) {
    if (!UsableKeyPath(path)) return false;
    if (FindKey(path) == nullptr) keys_.push_back(StoreKey{std::string(path), {}});
    return true;
}

const StoreKey* SettingsStore::FindKey(std::string_view path) const {
    for (const StoreKey& k : keys_) {
        if (SameName(k.path, path)) return &k;
    }
    return nullptr;
}

StoreKey* SettingsStore::FindKeyMutable(std::string_view path) {
    return const_cast<StoreKey*>(FindKey(path));
}

const StoreValue* SettingsStore::FindValue(std::string_view key, std::string_view name) const {
    const StoreKey* k = FindKey(key);
    if (k == nullptr) return nullptr;
    for (const StoreValue& v : k->values) {
        if (SameName(v.name, name)) return &v;
    }
    return nullptr;
}

bool SettingsStore::QueryDword(std::string_view key, std::string_view name, uint32_t& value) const {
    const StoreValue* v = FindValue(key, name);
    if (v == nullptr || v->type != StoreValueType::Dword) return false;
    value = v->number;
    return true;
}

bool SettingsStore::QueryString(std::string_view key, std::string_view name,
                                std::string& value) const {
    const StoreValue* v = FindValue(key, name);
    if (v == nullptr || v->type != StoreValueType::String) return false;
    value = v->text;
    return true;
}

bool SettingsStore::SetValue(std::string_view key, StoreValue value) {
    if (!CreateKey(key)) return false;
    StoreKey* k = FindKeyMutable(key);
    for (StoreValue& v : k->values) {
        if (SameName(v.name, value.name)) {
            v = std::move(value);
            return true;
        }
    }
    k->values.push_back(std::move(value));
    return true;
}

bool SettingsStore::SetDword(std::string_view key, std::string_view name, uint32_t value) {
    StoreValue v;
    v.name = std::string(name);
    v.type = StoreValueType::Dword;
    v.number = value;
    return SetValue(key, std::move(v));
}

bool SettingsStore::SetString(std::string_view key, std::string_view name, std::string_view value) {
    StoreValue v;
    v.name = std::string(name);
    v.type = StoreValueType::String;
    v.text = std::string(value);
    return SetValue(key, std::move(v));
}

bool SettingsStore::DeleteValue(std::string_view key, std::string_view name) {
    StoreKey* k = FindKeyMutable(key);
    if (k == nullptr) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (SameName(it->name, name)) {
            k->values.erase(it);
            return true;
        }
    }
    return false;
}

bool SettingsStore::DeleteKey(std::string_view path) {
    for (const StoreKey& k : keys_) {
        if (IsBelow(k.path, path)) return false;  // still has subkeys
    }
    for (auto it = keys_.begin(); it != keys_.end(); ++it) {
        if (SameName(it->path, path)) {
            keys_.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::string> SettingsStore::SubkeyNames(std::string_view path) const {
    std::vector<std::string> names;
    size_t skip = path.empty() ? 0 : path.size() + 1;
    for (const StoreKey& k : keys_) {
        if (!path.empty() && !IsBelow(k.path, path)) continue;
        std::string_view rest = std::string_view(k.path).substr(skip);
        std::string name(rest.substr(0, rest.find('\\')));
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameName(n, name);
        if (!seen) names.push_back(std::move(name));
    }
    return names;
}

bool SettingsStore::WriteFileAtomically(const std::string& folder) {
    std::string pattern = folder + "/." + std::string(kFileName) + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, Serialize()) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) ok = rename(name.data(), filePath_.c_str()) == 0;
    if (!ok) unlink(name.data());
    return ok;
}

bool SettingsStore::Update(const std::function<void(SettingsStore&)>& change) {
    if (filePath_.empty()) return false;
    std::string folder = ParentFolderOf(filePath_);
    if (!MakePrivateFolders(folder)) return false;
    StoreLock lock(folder, filePath_ + ".lock");
    if (!lock.locked()) return false;

    switch (Read()) {
        case StoreReadResult::Loaded:
        case StoreReadResult::Missing:
        case StoreReadResult::Damaged:  // ours: replacing it loses nothing of use
            break;
        case StoreReadResult::Foreign:
            if (!MoveAside(filePath_)) return false;
            break;
        case StoreReadResult::Unavailable:
            return false;  // never replace what could not be read
    }
    change(*this);
    if (!WriteFileAtomically(folder)) return false;
    fsync(lock.folderFd());  // make the rename itself durable
    return true;
}

bool DeleteKeyTree(SettingsStore& store, std::string_view parent, std::string_view name) {
    std::string path =
        parent.empty() ? std::string(name) : std::string(parent) + "\\" + std::string(name);
    if (store.DeleteKey(path)) return true;
    if (!store.HasKey(path)) return false;
    for (;;) {
        std::vector<std::string> subkeys = store.SubkeyNames(path);
        if (subkeys.empty() || !DeleteKeyTree(store, path, subkeys.front())) break;
    }
    if (const StoreKey* key = store.FindKey(path)) {
        while (!key->values.empty() && store.DeleteValue(path, key->values.front().name)) {
        }
    }
    // A key that only existed as the parent of its subkeys is gone with them.
    return store.DeleteKey(path) || !store.HasKey(path);
}

}  // namespace vantrove
