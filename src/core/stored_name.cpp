#include "core/stored_name.h"

#include <string_view>
#include <vector>

#include "core/path.h"

namespace vantrove {
namespace {

// Removes "." components and resolves ".." lexically; "" when the path
// climbs above its start. A relative path stays relative ("." when nothing
// is left of it).
std::string NormalisedPath(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string_view> parts;
    for (std::string_view part : SplitAt(path, '/')) {
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string out;
    for (std::string_view part : parts) {
        out += '/';
        out += part;
    }
    if (!absolute) return out.empty() ? std::string(".") : out.substr(1);
    return out.empty() ? std::string("/") : out;
}

}  // namespace

std::string StoredName(std::string_view raw) {
    std::string name(raw.substr(0, raw.find('\0')));
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

bool IsSafeStoredName(std::string_view name) {
    if (name.empty() || name[0] == '/') return false;
    for (std::string_view part : SplitAt(name, '/')) {
        if (part.empty() || part == "." || part == "..") return false;
    }
    return name.find('\0') == std::string_view::npos;
}

bool IsPlainRelativeName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    for (std::string_view part : SplitAt(name, '/')) {
        if (part == "." || part == "..") return false;
    }
    return true;
}

std::string ResolvedEntryPath(const std::string& folder, const std::string& name) {
    if (IsPlainRelativeName(name)) return folder + name;
    std::string resolved = NormalisedPath(!name.empty() && name[0] == '/' ? name : folder + name);
    // A name that climbs above the root keeps its written form; it lies
    // outside the folder all the same.
    return resolved.empty() ? folder + name : resolved;
}

bool PathLeavesFolder(const std::string& path, const std::string& folder) {
    const std::string resolved = NormalisedPath(path);
    if (resolved.empty()) return true;
    std::string base = NormalisedPath(folder.empty() ? std::string(".") : folder);
    if (base == ".") {
        return resolved == "." || resolved[0] == '/';
    }
    if (base.empty()) return true;
    if (base != "/") base += "/";
    return !(resolved.size() > base.size() && resolved.compare(0, base.size(), base) == 0);
}

}  // namespace vantrove
