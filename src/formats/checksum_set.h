#pragma once
// ChecksumSet: what the two checksum-list formats (SFV and MD5 lists) share.
//
// A checksum list names data files and gives a hash of each; it holds no
// recovery data. Each line that parses becomes one SourceFileEntry with a
// single block (the whole file). The set loads its list once, verifies data
// files by hashing them whole, finds copies under other names by their hash
// (the entry a file is expected to be is preferred among equal hashes), and
// its repair only renames. SfvChecksumSet and Md5ChecksumSet supply the line
// syntax, the hash and the saved state.
//
// Names in a list may be relative paths. A name that is absolute, has a "."
// or ".." component or is empty is verified only where it points inside the
// set's folder (elsewhere its file counts as missing and is never read), and
// its entry's target path keeps the name as written, so the repair never
// renames a file to it.
//
// Owned by its RecoverySet, used on the set's thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/md5.h"
#include "core/stored_name.h"
#include "engine/file_description.h"
#include "engine/recovery_set.h"
#include "engine/set_format.h"

namespace vantrove {

// The set name of a checksum list file: its name without `extension`
// (compared without regard to case), or empty when it does not end so.
std::string ListSetName(const std::string& fileName, const char* extension);

// One line of a checksum list: the name as written, and (in the format's
// own description) the hash.
struct ListLineDescription : FileDescription {
    std::string name;
};

// What tells one kind of checksum list from another.
struct ChecksumListKind {
    const char* listExtension;   // of the list file, e.g. ".sfv"
    const char* stateExtension;  // of its saved state
    const char* stateTag;        // the saved state's magic
    DescriptionSlot slot;        // where an entry keeps its line
    StateReader::DescriptionReader readDescription;
};

// The hash of a whole data file, in the form the format compares.
struct ChecksumOfFile {
    uint32_t crc = 0;
    Md5Context md5Context;  // running while the file is read
    Md5Digest md5;          // set when the file is done
};

class ChecksumSet : public SetFormat {
  public:
    ChecksumSet(RecoverySet& set, const ChecksumListKind& kind) : set_(set), kind_(kind) {}

    // SetFormat
    // The name without the list's extension (either case) when it ends so,
    // else empty.
    std::string VolumeSetName(const std::string& fileName) const override;
    // Reads the list; does nothing when `ignore` is set or the set already
    // has its entries.
    bool LoadVolume(const SetFileRef& file, bool ignore) override;
    // Another list given to an open set is looked at as a data file.
    bool TakesMoreVolumes() const override { return false; }
    bool Described() const override;
    bool SearchesOtherFiles() const override { return false; }
    bool TriesForeignVolumes() const override { return false; }
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                        DataFileOutcome& outcome, bool checkOnly) override;
    // A list holds no recovery data: its repair only renames.
    bool HasRecoveryData() const override { return false; }
    // True when both lists name the same files with the same hashes.
    bool SameSetAs(const SetFormat& other) const override;
    // The entries, each with its line, after what WriteListState adds.
    bool SaveState(const std::string& setPath) override;
    bool LoadState(const std::string& setPath) override;

    // The whole-file check used when a file is verified again: hashes `file`
    // (open) and compares it with `entry`. `stopped` tells that the hashing
    // was interrupted (the answer is then false).
    bool CheckWholeFile(SetFile& file, const SourceFileEntry& entry, bool& stopped);

  protected:
    // Parses one line; on an entry appends it (name, description, one
    // block) and returns true.
    virtual bool ParseListLine(std::string_view line, std::vector<SourceFileEntryRef>& entries) = 0;
    // Adds `length` bytes of a data file to the running hash.
    virtual void HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const = 0;
    virtual void HashFinish(ChecksumOfFile& hash) const {}
    // True when `entry` carries the hash `hash`.
    virtual bool HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const = 0;
    // True when both entries describe the same file (name and hash).
    virtual bool SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const = 0;
    // Called after the entries of a list were taken.
    virtual void ListLoaded() {}

    // What the format keeps in its saved state before the entries.
    virtual void WriteListState(StateWriter& writer) const {}
    virtual void ReadListState(StateReader& reader) {}

    // Appends the entry of one parsed line: `description` holds the line's
    // name (made a stored name here) and hash; `empty` tells that the hash
    // is that of an empty file (no data to find; a missing one is made again).
    void AddListedEntry(std::vector<SourceFileEntryRef>& entries,
                        std::shared_ptr<ListLineDescription> description, bool empty) const;
    // The line of `entry`, as the format's `Description`; null when the
    // entry holds no line of this kind of list.
    template <class Description>
    const Description* LineOf(const SourceFileEntry& entry) const {
        return dynamic_cast<const Description*>(entry.Description(kind_.slot).get());
    }

    RecoverySet& set_;

  private:
    // Gives the entries of a freshly read list (or saved state) the targets
    // that need care (unusual names), then finishes loading.
    bool TakeEntries(std::vector<SourceFileEntryRef> entries);
    // After a saved state was read: the set is ready for its scan.
    void StateLoaded();
    // Reads the entries of a saved state (a count, then the entry
    // references) and takes them. Every entry must be one block whose line
    // carries the entry's name.
    bool ReadStateEntries(StateReader& reader);

    const ChecksumListKind& kind_;
    // Hashes the whole open file with progress.
    enum class Hashing { Done, Stopped, ReadFailed };
    Hashing HashWholeFile(SetFile& file, ChecksumOfFile& hash);
    bool TargetOutsideFolder(const SetFile& file) const;
};

}  // namespace vantrove
