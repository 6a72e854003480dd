#pragma once
// DesktopEntryFile: the key-file format of the desktop's own files, as the
// shell integration reads and edits them (application entries, mimeapps.list,
// file-manager menu files).
//
// A file is a list of lines: "[Group]" headers, "Key=Value" entries, comments
// and blank lines. Editing changes only the entries it names and keeps every
// other line as it stands, so the parts of a shared file that belong to other
// programs come through an edit unchanged. Values are handled as raw text;
// lists ("a;b;") are split and joined by the helpers below.
//
// Also here: whole-file reading and the atomic write (a temporary file in the
// same folder, renamed over the target) that every desktop file goes through.
//
// Plain data: one thread at a time per object; the file helpers may be called
// from any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrove {

class DesktopEntryFile {
  public:
    DesktopEntryFile() = default;

    // Replaces the content with `text`.
    void Parse(std::string_view text);
    std::string Serialize() const;

    bool HasGroup(std::string_view group) const;
    // The value of `key` in `group`; false when there is no such entry.
    bool Get(std::string_view group, std::string_view key, std::string& value) const;
    // Sets or adds the entry (adding the group at the end when needed).
    void Set(std::string_view group, std::string_view key, std::string_view value);
    // Removes the entry; false when it was not there.
    bool Remove(std::string_view group, std::string_view key);
    // The keys of `group`, in file order.
    std::vector<std::string> Keys(std::string_view group) const;

  private:
    struct Line {
        std::string text;   // the line as read or written
        std::string group;  // the group the line belongs to
        std::string key;    // for entries; empty for other lines
        std::string value;
    };
    std::vector<Line> lines_;
};

// "a;b;c;" -> {a, b, c}; empty items are dropped.
std::vector<std::string> SplitDesktopList(std::string_view value);
// {a, b} -> "a;b;"
std::string JoinDesktopList(const std::vector<std::string>& items);

// Appends what the descriptor `fd` holds from where it stands to `text`,
// stopping early once `text` is longer than `limit`. False on a read error.
bool ReadToEnd(int fd, std::string& text, size_t limit = SIZE_MAX);
// Reads a whole file; false when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& text);
// Writes `text` to a temporary file beside `path` and renames it over `path`,
// creating missing folders on the way. `mode` is the new file's permission.
// False, with `path` untouched, when any step fails.
bool WriteTextFileAtomically(const std::string& path, std::string_view text, unsigned mode = 0644);
// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace vantrove
