#include "create/existing_set_reader.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "core/disk_file.h"
#include "par2/file_description_packet.h"
#include "par2/main_packet.h"
#include "par2/packet_coding.h"
#include "par2/packet_header.h"
#include "core/stored_name.h"
#include "par2/volume_name.h"

namespace vantrove {

namespace {

struct Group {
    size_t order = 0;
    std::shared_ptr<MainPacket> main;
    std::map<std::array<uint8_t, 16>, std::shared_ptr<FileDescriptionPacket>> files;
    uint32_t exponentEnd = 0;
};

void ReadPackets(const std::string& path, std::map<std::array<uint8_t, 16>, Group>& groups) {
    DiskFile file;
    if (!file.open(path)) return;
    std::vector<uint8_t> buffer;
    uint8_t header[kPacketHeaderSize];
    uint64_t offset = 0;
    while (offset + kPacketHeaderSize <= file.size) {
        if (!file.read(offset, header, kPacketHeaderSize)) return;
        PacketHeader parsed;
        if (!ParsePacketHeader(header, parsed) || parsed.length > file.size - offset) {
            offset += 4;  // look for the next packet
            continue;
        }
        const PacketType type = parsed.type();
        Group& group = groups[parsed.setId.bytes];
        if (group.order == 0) group.order = groups.size();
        if (type == PacketType::RecoverySlice) {
            uint8_t exponent[4];
            if (parsed.length > kRecoveryDataOffset &&
                file.read(offset + kRecoveryExponentOffset, exponent, 4) &&
                packet_coding::LoadLe32(exponent) < 65536)
                group.exponentEnd =
                    std::max(group.exponentEnd, packet_coding::LoadLe32(exponent) + 1);
        } else if (VerifyPacketHash(file, offset, header, buffer) == PacketHashCheck::Valid) {
            if (type == PacketType::Main && !group.main) {
                auto main = std::make_shared<MainPacket>();
                if (main->Read(file, offset, header)) group.main = main;
            } else if (type == PacketType::FileDescription) {
                auto fd = std::make_shared<FileDescriptionPacket>();
                if (fd->Read(file, offset, header) && !group.files.count(fd->fileId().bytes))
                    group.files[fd->fileId().bytes] = fd;
            }
        }
        offset += parsed.length;
    }
}

// Every id of a main packet, the recoverable ones first.
std::vector<Md5Digest> AllIds(const MainPacket& main) {
    std::vector<Md5Digest> ids;
    const auto& bytes = main.bytes();
    for (size_t at = kMainFileIdsOffset; at + 16 <= bytes.size(); at += 16) {
        Md5Digest id;
        std::memcpy(id.bytes.data(), bytes.data() + at, 16);
        ids.push_back(id);
    }
    return ids;
}

}  // namespace

bool ReadExistingSet(const std::string& path, ExistingSetInfo& info, std::string& error) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string base = Par2VolumeSetName(name);
    if (base.empty()) {
        error = "not a PAR2 file name: " + path;
        return false;
    }
    std::map<std::array<uint8_t, 16>, Group> groups;
    ReadPackets(path, groups);
    std::vector<std::string> others;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string other = entry->d_name;
            if (other != name && EqualNoCase(Par2VolumeSetName(other), base))
                others.push_back(other);
        }
        closedir(dir);
    }
    std::sort(others.begin(), others.end());
    for (const std::string& other : others) ReadPackets(folder + other, groups);

    std::vector<const Group*> ordered;
    for (const auto& [id, group] : groups) ordered.push_back(&group);
    std::sort(ordered.begin(), ordered.end(),
              [](const Group* a, const Group* b) { return a->order < b->order; });
    for (const Group* group : ordered) {
        if (!group->main || group->main->recoverableFileCount() == 0) continue;
        ExistingSetInfo found;
        bool complete = true;
        for (const Md5Digest& id : AllIds(*group->main)) {
            auto it = group->files.find(id.bytes);
            if (it == group->files.end()) {
                complete = false;
                break;
            }
            found.fileDescriptions.push_back(it->second);
        }
        if (!complete) continue;
        for (const auto& fd : found.fileDescriptions) {
            const std::string stored = fd->name();
            if (!IsSafeStoredName(StoredName(stored))) {
                error = "the set names a file that cannot be used here: " + stored;
                return false;
            }
        }
        found.mainPacket = group->main;
        found.baseName = base;
        found.folder = folder;
        found.firstUnusedExponent = group->exponentEnd;
        info = std::move(found);
        return true;
    }
    error = "no complete PAR2 set found in " + path;
    return false;
}

}  // namespace vantrove
