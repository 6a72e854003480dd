#pragma once
// BlockProgressSink: where a Reed–Solomon computation reports how far it is.
//
// The set that runs a repair implements it; the matrix computation calls it on
// the thread that runs the computation (the set's worker), with `done` out of
// `total` steps as 32-bit counts, and polls it for a request to stop.

#include <cstdint>

namespace vantrove {

class BlockProgressSink {
  public:
    virtual ~BlockProgressSink() = default;
    virtual void SetBlockProgress(uint32_t done, uint32_t total) = 0;
    // Polled between the steps of a long computation: true ends it early
    // (it then fails, as when it cannot be done).
    virtual bool StopRequested() const { return false; }
};

}  // namespace vantrove
