#include "app/extension_set.h"

#include "core/path.h"
#include "core/stored_name.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "par2/packet_group.h"
#include "par2/par2_recovery_set.h"
#include "par2/volume_name.h"

namespace vantrove {
namespace {

// The loaded group of `setId`, when it holds a complete set.
PacketGroup* CompleteGroupOf(const Par2RecoverySet& set, const Md5Digest& setId) {
    for (const auto& group : set.groups()) {
        if (group->setId == setId) return group->IsComplete() ? group.get() : nullptr;
    }
    return nullptr;
}

// Every file id of the main packet: the recoverable files, then the others.
std::vector<Md5Digest> AllFileIds(const MainPacket& main) {
    std::vector<Md5Digest> ids;
    for (uint32_t i = 0; i < main.recoverableFileCount(); ++i) ids.push_back(main.fileId(i));
    for (const Md5Digest& id : main.otherFileIds()) ids.push_back(id);
    return ids;
}

}  // namespace

bool ReadSetForExtension(const std::string& path, ExistingSetInfo& info, std::string& error,
                         const Md5Digest* setId) {
    const std::string base = Par2VolumeSetName(FileNameOfPath(path));
    if (base.empty()) {
        error = "not a PAR2 file name: " + path;
        return false;
    }
    std::unique_ptr<RecoverySet> loaded = NewPar2Set(nullptr, nullptr);
    Par2RecoverySet& set = *loaded->FormatAs<Par2RecoverySet>();
    set.LoadVolumes(path, true);
    const PacketGroup* group = setId ? CompleteGroupOf(set, *setId) : set.chosenGroup();
    error = "no complete PAR2 set found in " + path;
    if (group == nullptr) return false;

    // The new volumes repeat the description of every file the main packet
    // lists, also of the files it does not protect.
    ExistingSetInfo found;
    for (const Md5Digest& id : AllFileIds(*group->main)) {
        auto record = group->files.find(id);
        if (record == group->files.end() || !record->second.description) return false;
        found.fileDescriptions.push_back(record->second.description);
    }
    for (const auto& description : found.fileDescriptions) {
        const std::string stored = description->name();
        if (!IsSafeStoredName(StoredName(stored))) {
            error = "the set names a file that cannot be used here: " + stored;
            return false;
        }
    }
    found.mainPacket = group->main;
    found.baseName = base;
    const std::string folder = FolderOfPath(path);
    found.folder = ResolvedFolder(folder);
    if (found.folder.empty()) found.folder = folder.empty() ? std::string("./") : folder;
    found.firstUnusedExponent = group->exponentEnd;
    info = std::move(found);
    error.clear();
    return true;
}

bool ReadLoadedSetForExtension(const RecoverySet& loaded, ExistingSetInfo& info,
                               std::string& error) {
    const auto* set = loaded.FormatAs<Par2RecoverySet>();
    if (set == nullptr || set->chosenGroup() == nullptr) {
        error = "not a complete PAR2 set";
        return false;
    }
    const std::string& folder = loaded.folder();
    const std::string& baseName = loaded.baseName();
    std::vector<std::string> candidates;
    for (const auto& [path, file] : loaded.knownFiles()) {
        if (FolderOfPath(path) == folder &&
            EqualNoCase(Par2VolumeSetName(FileNameOfPath(path)), baseName)) {
            candidates.push_back(path);
        }
    }
    candidates.push_back(folder + baseName + "." + GetString(kStrPar2Extension));
    for (const std::string& path : candidates) {
        if (KindOfPath(path) == PathKind::RegularFile)
            return ReadSetForExtension(path, info, error, &set->chosenGroup()->setId);
    }
    error = "no volume of the set " + baseName + " in " + folder;
    return false;
}

}  // namespace vantrove
