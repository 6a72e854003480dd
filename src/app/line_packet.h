#pragma once
// LinePacket: one change to the lists of the verify/repair dialog, built on
// the verification worker and handed to the dialog's thread.
//
// A packet is a self-contained copy (paths, sizes, counts); nothing in it
// points into the set, which may change as soon as the packet is built. The
// sender allocates it and gives up ownership when it hands it over; the
// receiver (the dialog, on its own thread) owns and frees it.
//
// LinePacketSink is how packets leave the worker thread: the dialog
// implements it with a queued call into its own thread, tests with a locked
// list. PostLinePacket is called on the worker thread and must not block for
// long or call back into the worker.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/recovery_set_status.h"
#include "engine/set_observer.h"

namespace vantrove {

enum class LinePacketKind : int32_t {
    VolumeFile = 0,        // add or refresh a volume or checksum file line
    RemoveVolumeFile = 1,  // remove a volume or checksum file line
    SourceFileLine = 2,    // add or refresh a source file line
    ClearLists = 3,        // forget every line
};

struct LinePacket {
    LinePacketKind kind = LinePacketKind::ClearLists;
    // VolumeFile, RemoveVolumeFile: the file's path. SourceFileLine: the
    // source file's name.
    std::string path;
    uint64_t size = 0;
    // VolumeFile: recovery blocks or checksums taken from the file.
    uint32_t blocksTaken = 0;
    VolumeDisplayCode displayCode = VolumeDisplayCode::NotRead;
    // SourceFileLine.
    SourceRowKind rowKind = SourceRowKind::NotVerified;
    FormatKind formatKind = FormatKind::None;
    uint32_t blockCount = 0;
    std::vector<SourcePlace> places;  // sorted by path
};

class LinePacketSink {
  public:
    virtual ~LinePacketSink() = default;
    // Takes ownership of `packet`. Called on the worker thread.
    virtual void PostLinePacket(std::unique_ptr<LinePacket> packet) = 0;
};

}  // namespace vantrove
