#pragma once
// The check that closes every chunk of a recovery computation: the computed
// blocks go back from the kernel's working layout to plain bytes, and each
// takes the linear checksum of its field (the block signature in GF(2^16),
// the byte checksum in GF(2^8)), to be compared with the one predicted from
// the inputs.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantrove {

class WorkerTeam;

// The field a Reed–Solomon code computes in.
enum class CodeField { Gf16, Gf8 };

// The signatures of `count` outputs of `length` bytes, `stride` bytes apart
// from `area`, taken on the threads of `team`. Outputs marked in `skip` (when
// given) are left alone and sign as 0. In GF(2^16) the outputs are first
// brought back to plain bytes, unless `plain` says they are already. `inspect`, when given, sees every output in
// plain bytes before it is signed, on the calling thread.
std::vector<uint16_t> SignOutputs(WorkerTeam& team, CodeField field, uint8_t* area,
                                  uint64_t stride, uint32_t count, size_t length,
                                  const std::vector<uint8_t>* skip,
                                  const std::function<void(uint32_t, uint8_t*)>& inspect,
                                  bool plain = false);
// Brings `count` GF(2^16) outputs back from the kernel's working layout to
// plain bytes on the threads of `team`; outputs marked in `skip` stay as
// they are.
void OutputsToPlain(WorkerTeam& team, uint8_t* area, uint64_t stride, uint32_t count,
                    size_t length, const std::vector<uint8_t>* skip);

}  // namespace vantrove
