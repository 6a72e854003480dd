#include "rs/output_signatures.h"

#include "core/worker_team.h"
#include "rs/block_signature.h"
#include "rs/galois_field8.h"
#include "rs/multiply_accumulate.h"

namespace vantrove {

std::vector<uint16_t> SignOutputs(WorkerTeam& team, CodeField field, uint8_t* area,
                                  uint64_t stride, uint32_t count, size_t length,
                                  const std::vector<uint8_t>* skip,
                                  const std::function<void(uint32_t, uint8_t*)>& inspect,
                                  bool plain) {
    const unsigned threads = team.Size();
    auto skipped = [skip](uint32_t j) { return skip != nullptr && (*skip)[j] != 0; };
    if (field == CodeField::Gf16 && !plain) OutputsToPlain(team, area, stride, count, length, skip);
    if (inspect)
        for (uint32_t j = 0; j < count; ++j)
            if (!skipped(j)) inspect(j, area + j * stride);
    std::vector<uint16_t> signatures(count, 0);
    team.Run([&](unsigned k) {
        for (uint32_t j = k; j < count; j += threads) {
            if (skipped(j)) continue;
            const uint8_t* data = area + j * stride;
            signatures[j] = field == CodeField::Gf8 ? BlockChecksum8(data, length)
                                                   : BlockSignature(data, length);
        }
    });
    return signatures;
}

void OutputsToPlain(WorkerTeam& team, uint8_t* area, uint64_t stride, uint32_t count,
                    size_t length, const std::vector<uint8_t>* skip) {
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    if (kernel.fromWorking == nullptr) return;
    const unsigned threads = team.Size();
    team.Run([&](unsigned k) {
        for (uint32_t j = k; j < count; j += threads)
            if (skip == nullptr || (*skip)[j] == 0) kernel.fromWorking(area + j * stride, length);
    });
}

}  // namespace vantrove
