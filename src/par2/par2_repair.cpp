// Par2RecoverySet: repair (renaming, joining, Reed-Solomon rebuild,
// re-verification and clean-up) and the recovery of single blocks that
// straddle two found pieces of a file.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <set>
#include <vector>

#include "core/crc32.h"
#include "core/machine.h"
#include "core/md5.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "engine/set_data_pass_reporter.h"
#include "par2/par2_recovery_set.h"
#include "rs/data_pass.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {
namespace {

const Par2BlockChecksums* ChecksumsOf(const SourceFileEntry& entry) {
    return static_cast<const Par2BlockChecksums*>(
        entry.Description(DescriptionSlot::Par2BlockChecksums).get());
}

// Files opened for a rebuild, closed again when it ends.
class OpenedFiles {
  public:
    ~OpenedFiles() { CloseAll(); }
    // Opens `file` for reading unless it is open already. False (with the
    // file's error) when it cannot be opened.
    bool Open(const DiskFileRef& file) {
        if (file->isOpen()) return true;
        if (!file->open()) return false;
        files_.push_back(file);
        return true;
    }
    void CloseAll() {
        for (const DiskFileRef& file : files_) file->close();
        files_.clear();
    }

  private:
    std::vector<DiskFileRef> files_;
};

}  // namespace

std::vector<SetFileRef> Par2RecoverySet::CleanUpCandidates(RecoveryState state,
                                                           SubState subState) const {
    std::vector<SetFileRef> list;
    std::set<const SetFile*> listed;
    auto add = [&](const SetFileRef& file) {
        if (file && listed.insert(file.get()).second) list.push_back(file);
    };
    if (subState == SubState::NeedRecoveryBlocks) {
        for (const auto& [path, file] : set_.knownFiles()) {
            if (file->kind != FileKind::Volume && file->blocksTaken > 0 &&
                file->result != VerifyResult::IntactCopy) {
                add(file);
            }
        }
    } else if (subState == SubState::CanJoin) {
        std::map<const DiskFile*, std::pair<bool, bool>> holds;  // joinable, other
        for (const SourceFileEntryRef& entry : set_.entries()) {
            for (const DataBlock& block : entry->foundBlocks) {
                if (!block.file) continue;
                auto& h = holds[block.file.get()];
                (entry->joinable ? h.first : h.second) = true;
            }
        }
        for (const auto& [path, file] : set_.knownFiles()) {
            auto it = holds.find(file.get());
            if (it != holds.end() && it->second.first && !it->second.second) add(file);
        }
    }
    if (state == RecoveryState::RepairPossible && chosenGroup()) {
        for (const auto& [exponent, slice] : chosenGroup()->slices)
            add(SetFileOf(slice->data().file));
    }
    return list;
}

bool Par2RecoverySet::RebuildTargets(RecoveryState state,
                                     const std::vector<SourceFileEntry*>& targets,
                                     bool& cancelled) {
    cancelled = false;
    if (targets.empty()) return true;
    set_.SetActivity(Activity::ComputingMatrix, GetString(kStrActivityComputingMatrix));
    set_.SetProgress(0, 1);
    set_.NotifyStatus();

    const uint64_t sliceSize = set_.status().blockSize;
    const uint32_t total = set_.status().totalDataBlocks;
    uint32_t missing = total - std::min<uint32_t>(total, set_.status().dataBlocksAvailable);
    ReedSolomonMatrix matrix;
    DataPassJob job;
    job.sliceSize = sliceSize;
    job.physicalMemoryBytes = set_.repairOptions().physicalMemoryBytes != 0
                                  ? set_.repairOptions().physicalMemoryBytes
                                  : PhysicalMemoryBytes();
    job.threads = set_.repairOptions().threads;
    OpenedFiles opened;
    bool openFailed = false;
    auto openInput = [&](const DiskFileRef& file) {
        if (opened.Open(file)) return;
        set_.RecordError(ErrorKind::Open, file->lastError(), file->path);
        openFailed = true;
    };

    if (state == RecoveryState::RepairPossible) {
        std::vector<bool> present(total, false);
        for (uint32_t k = 0; k < total; ++k) {
            const DataBlock& found = set_.foundBlocks()[k];
            if (found.file) {
                openInput(found.file);
                present[k] = true;
                job.inputs.push_back(found);
                job.copyTargets.push_back(set_.targetBlocks()[k]);
            } else {
                job.outputs.push_back(set_.targetBlocks()[k]);
            }
        }
        missing = static_cast<uint32_t>(job.outputs.size());
        if (!matrix.SetInput(present)) {
            set_.RecordError(ErrorKind::ReedSolomon, 0, {});
            return false;
        }
        // The lowest exponents first, and no more than the missing blocks.
        if (chosenGroup()) {
            for (const auto& [exponent, slice] : chosenGroup()->slices) {
                if (job.inputs.size() >= total) break;
                const DataBlock& data = slice->data();
                // Only a whole slice of a valid exponent can stand in for a
                // block; anything else would rebuild garbage.
                if (exponent > 0xFFFF || !data.file || data.length != sliceSize) continue;
                openInput(data.file);
                job.inputs.push_back(data);
                job.copyTargets.push_back(DataBlock{});
                matrix.AddOutput(true, static_cast<uint16_t>(exponent));
            }
        }
        if (openFailed) return false;
        if (missing > 0) {
            // Many short blocks: the data pass solves the sums of the
            // blocks rather than the wide matrix.
            const bool solved = ReedSolomonMatrix::StepsCheaper(sliceSize, matrix.ColumnCount())
                                    ? matrix.ComputeSteps(&set_)
                                    : matrix.Compute(&set_);
            if (!solved) {
                set_.RecordError(ErrorKind::ReedSolomon, 0, {});
                return false;
            }
            job.matrix = &matrix;
        }
    } else {
        for (uint32_t k = 0; k < total; ++k) {
            const DataBlock& found = set_.foundBlocks()[k];
            if (!found.file || !set_.targetBlocks()[k].file) continue;
            openInput(found.file);
            job.inputs.push_back(found);
            job.copyTargets.push_back(set_.targetBlocks()[k]);
        }
        if (openFailed) return false;
    }

    SetDataPassReporter reporter(set_);
    return RunDataPass(job, reporter, cancelled);
}

void Par2RecoverySet::SearchGaps() {
    const uint64_t sliceSize = set_.status().blockSize;
    if (sliceSize == 0 || sliceSize > (uint64_t{1} << 31)) return;
    std::vector<uint8_t> buffer;
    for (const SourceFileEntryRef& ref : set_.entries()) {
        SourceFileEntry& entry = *ref;
        if (entry.state != FileState::Missing && entry.state != FileState::Damaged) continue;
        if (entry.blockCount < 3) continue;
        const Par2BlockChecksums* checksums = ChecksumsOf(entry);
        if (!checksums || checksums->sliceCount() != entry.blockCount) continue;
        for (uint32_t k = 1; k + 1 < entry.blockCount; ++k) {
            if (set_.StopRequested()) return;
            const DataBlock& before = entry.foundBlocks[k - 1];
            const DataBlock& gap = entry.foundBlocks[k];
            const DataBlock& after = entry.foundBlocks[k + 1];
            if (gap.file || !before.file || !after.file) continue;
            DiskFileRef a = before.file;
            DiskFileRef b = after.file;
            const uint64_t endOfBefore = before.offset + sliceSize;
            if (endOfBefore > a->size) continue;
            const uint64_t tail = a->size - endOfBefore;
            const uint64_t head = after.offset;
            if (tail > sliceSize || head > sliceSize || tail + head != sliceSize) continue;

            const std::string path =
                entry.targetPath + ".#" + std::to_string(static_cast<uint64_t>(k) * sliceSize) +
                "-" + std::to_string((static_cast<uint64_t>(k) + 1) * sliceSize - 1) + "#";
            if (path.size() >= PATH_MAX || !set_.IsWritablePlace(path) ||
                set_.FindKnownFile(path)) {
                continue;
            }

            buffer.assign(sliceSize, 0);
            const bool aWasOpen = a->isOpen();
            const bool bWasOpen = b->isOpen();
            bool read = (aWasOpen || a->open()) && a->read(endOfBefore, buffer.data(), tail);
            read = read && (bWasOpen || b->open()) && b->read(0, buffer.data() + tail, head);
            if (!aWasOpen) a->close();
            if (!bWasOpen) b->close();
            if (!read) continue;

            const SliceChecksum expected = checksums->entry(k);
            if (Crc32Update(0, buffer.data(), buffer.size()) != expected.crc32) continue;
            if (Md5Of(buffer.data(), buffer.size()) != expected.md5) continue;

            // Never overwrite: a file of that name that the set does not
            // know is left alone.
            if (access(path.c_str(), F_OK) == 0) continue;
            auto piece = std::make_shared<SetFile>(path);
            if (!piece->create()) continue;
            if (!piece->write(0, buffer.data(), buffer.size())) {
                piece->remove();
                continue;
            }
            piece->close();
            piece->kind = FileKind::OtherData;
            piece->result = VerifyResult::NotIntact;
            piece->flags.damaged = true;
            piece->sourceFile = &entry;
            set_.AddMadeFile(piece);
            set_.LocateBlock(entry, k, piece, 0);
            set_.UpdateEntryState(entry);
        }
    }
}

}  // namespace vantrove
