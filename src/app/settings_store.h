#pragma once
// SettingsStore: the typed per-user store that holds the program's options.
//
// The store is a tree of keys ("Options", "Layout", "Shell", or deeper paths
// written with '\\' between the parts), each with named values that are
// either a 32-bit number or a string. It lives in one text file, by default
// $XDG_CONFIG_HOME/Vantrove/settings.reg, in a form close to the text form of
// registry export files:
//
//     Vantrove Settings Version 1
//
//     [Options]
//     "BlockSizeChoice"=dword:00000001
//     "SplitSourceLimit"="15000000"
//
//     ; end of store
//
// The first line is our signature: a file without it is not ours and is never
// overwritten; the next save moves it aside to a free name ending in
// ".foreign" first. The last line marks the end so that a truncated file is
// recognised. A file of ours that does not parse, or is truncated, reads as
// "damaged": it gives no values at all, as if the store did not exist.
// Values of a type other than a number or a string ("hex:" forms) are kept
// as they stand and never match a typed query.
//
// Writes go to a temporary file in the same folder which then replaces the
// store by rename, so an interrupted save leaves either the old or the new
// store. `Update` holds an advisory lock on the folder from its read to its
// write, so two processes that save at once do not lose each other's keys.
//
// A SettingsStore object is used by one thread at a time. Nothing here throws;
// failures are return values.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrove {

// The store file of the current user: $XDG_CONFIG_HOME/Vantrove/settings.reg,
// with $HOME/.config in place of a missing or relative XDG_CONFIG_HOME. Empty
// when neither variable gives an absolute folder.
std::string DefaultSettingsStorePath();

enum class StoreValueType : uint8_t { Dword, String, Other };

struct StoreValue {
    std::string name;  // empty for the key's default value (written "@")
    StoreValueType type = StoreValueType::Dword;
    uint32_t number = 0;
    std::string text;  // the string, or the raw text after '=' for Other
};

struct StoreKey {
    std::string path;                // "Options", "Shell\\Sub"
    std::vector<StoreValue> values;  // in the order they were written
};

// What reading the store file found.
enum class StoreReadResult : uint8_t {
    Loaded,      // our file, read completely
    Missing,     // no file (the first run)
    Damaged,     // our signature, but unreadable, truncated or malformed
    Foreign,     // a file that is not ours
    Unavailable  // no store path, or the file could not be read
};

class SettingsStore {
  public:
    explicit SettingsStore(std::string filePath);

    const std::string& filePath() const { return filePath_; }

    // Replaces the content with what the file holds. Anything but Loaded
    // leaves the store empty.
    StoreReadResult Read();

    // Locks the store folder, reads the file afresh (an unreadable file of ours
    // counts as empty; a foreign file is moved aside), lets `change` edit the
    // content and writes it back atomically. The folder is created when
    // needed. Returns false, with nothing written, when any step fails.
    bool Update(const std::function<void(SettingsStore&)>& change);

    // --- In-memory content -------------------------------------------------
    bool HasKey(std::string_view path) const;
    // Creates the key (and none of its parents, which need not exist as keys).
    // False for an unusable path (empty, containing ']', a line break or an
    // empty part).
    bool CreateKey(std::string_view path);
    const StoreKey* FindKey(std::string_view path) const;
    const std::vector<StoreKey>& keys() const { return keys_; }

    // Typed queries: true only when the value exists with that type.
    bool QueryDword(std::string_view key, std::string_view name, uint32_t& value) const;
    bool QueryString(std::string_view key, std::string_view name, std::string& value) const;
    const StoreValue* FindValue(std::string_view key, std::string_view name) const;

    // Setting a value creates its key. False for an unusable key path.
    bool SetDword(std::string_view key, std::string_view name, uint32_t value);
    bool SetString(std::string_view key, std::string_view name, std::string_view value);
    bool DeleteValue(std::string_view key, std::string_view name);
    // Deletes one key that has no subkeys (values go with it), as the registry
    // does; false when the key is missing or still has subkeys.
    bool DeleteKey(std::string_view path);
    // Names of the direct subkeys of `path` ("" for the top level), in order.
    std::vector<std::string> SubkeyNames(std::string_view path) const;

    void Clear() { keys_.clear(); }

    // The file text of the current content, and the reverse. Parse returns
    // Loaded, Damaged or Foreign; anything but Loaded leaves the store empty.
    std::string Serialize() const;
    StoreReadResult Parse(std::string_view text);

  private:
    StoreKey* FindKeyMutable(std::string_view path);
    bool SetValue(std::string_view key, StoreValue value);
    bool WriteFileAtomically(const std::string& folder);

    std::string filePath_;
    std::vector<StoreKey> keys_;
};

// Deletes the key `parent`\`name` with all its subkeys and values from the
// store's content: first as a plain key, else subkey by subkey and value by
// value, then the key itself. False when the key does not exist. An empty
// parent means the top level.
bool DeleteKeyTree(SettingsStore& store, std::string_view parent, std::string_view name);

}  // namespace vantrove
