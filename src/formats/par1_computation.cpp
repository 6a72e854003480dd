#include "formats/par1_computation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/page_region.h"
#include "rs/galois_field8.h"
#include "rs/memory_test_patterns.h"
#include "rs/multiply_accumulate.h"

namespace vantrove {
namespace {

// Progress of the memory test is reported after this many bytes.
constexpr size_t kMemoryTestStep = 262144;

void Fill(uint8_t* area, size_t bytes, uint32_t pattern) {
    const size_t words = bytes / 4;
    for (size_t i = 0; i < words; ++i) std::memcpy(area + 4 * i, &pattern, 4);
    std::memset(area + 4 * words, static_cast<uint8_t>(pattern), bytes - 4 * words);
}

bool Holds(const uint8_t* area, size_t bytes, uint32_t pattern) {
    const size_t words = bytes / 4;
    for (size_t i = 0; i < words; ++i) {
        uint32_t word;
        std::memcpy(&word, area + 4 * i, 4);
        if (word != pattern) return false;
    }
    for (size_t i = 4 * words; i < bytes; ++i) {
        if (area[i] != static_cast<uint8_t>(pattern)) return false;
    }
    return true;
}

bool Stopped(const DataPassReporter& reporter) {
    const std::atomic<uint32_t>* flag = reporter.StopFlag();
    return flag && flag->load(std::memory_order_relaxed) != 0;
}

// Sixteen patterns over the output area, then the input buffer: write both,
// read both back.
bool TestMemory(uint8_t* output, size_t outputBytes, uint8_t* input, size_t inputBytes,
                const Par1ComputationJob& job, DataPassReporter& reporter) {
    reporter.SetActivity(kActivityMemoryTest, 0);
    const uint64_t total = 32 * (uint64_t{outputBytes} + inputBytes);
    uint64_t position = 0;
    reporter.SetProgress(0, total);
    auto advance = [&](size_t bytes) {
        const uint64_t before = position / kMemoryTestStep;
        position += bytes;
        if (position / kMemoryTestStep != before) reporter.SetProgress(position, total);
    };
    struct Area {
        uint8_t* data;
        size_t bytes;
    } areas[2] = {{output, outputBytes}, {input, inputBytes}};
    for (uint32_t pattern : kMemoryTestPatterns) {
        for (const Area& area : areas) {
            for (size_t done = 0; done < area.bytes; done += kMemoryTestStep) {
                const size_t n = std::min(kMemoryTestStep, area.bytes - done);
                Fill(area.data + done, n, pattern);
                advance(n);
            }
            if (job.hooks) job.hooks->AfterPatternWritten(area.data, area.bytes);
        }
        for (const Area& area : areas) {
            for (size_t done = 0; done < area.bytes; done += kMemoryTestStep) {
                const size_t n = std::min(kMemoryTestStep, area.bytes - done);
                if (!Holds(area.data + done, n, pattern)) {
                    reporter.RecordError(kErrorMemory, 0, {});
                    return false;
                }
                advance(n);
            }
        }
    }
    reporter.SetProgress(total, total);
    return true;
}

}  // namespace

uint64_t Par1ChunkSize(uint64_t blockSize, uint32_t missing, uint64_t physicalMemory) {
    if (blockSize == 0) return 4;
    return DataPassChunkSize(blockSize, missing, physicalMemory);
}

bool RunPar1Computation(const Par1ComputationJob& job, DataPassReporter& reporter,
                        bool& cancelled) {
    cancelled = false;
    const uint32_t m = static_cast<uint32_t>(job.outputs.size());
    const size_t inputCount = job.inputs.size();
    if (m == 0) return true;
    if (!job.matrix || job.matrix->DataMissing() != m || job.matrix->ColumnCount() != inputCount ||
        job.blockSize == 0) {
        reporter.RecordError(kErrorDataPassFailed, EINVAL, {});
        return false;
    }
    const uint64_t chunk = Par1ChunkSize(job.blockSize, m, job.physicalMemoryBytes);
    if (chunk > SIZE_MAX / m) {
        reporter.RecordError(kErrorDataPassFailed, ENOMEM, {});
        return false;
    }
    // The input buffer holds one chunk: only that much of each input is
    // read at a time.
    PageRegion output;
    PageRegion input;
    if (!output.Allocate(static_cast<size_t>(chunk) * m) ||
        !input.Allocate(static_cast<size_t>(chunk)) || !output.data() || !input.data()) {
        reporter.RecordError(kErrorDataPassFailed, ENOMEM, {});
        return false;
    }
    if (!TestMemory(output.data(), output.size(), input.data(), input.size(), job, reporter)) {
        return false;
    }

    const MultiplyAccumulate8Kernel& kernel = ActiveMultiplyAccumulate8();
    std::vector<Factor8Table> factors(m);  // the factors of one input
    std::vector<uint8_t> predicted(m);
    const uint64_t total = uint64_t{m} * inputCount * job.blockSize;
    uint64_t position = 0;
    for (uint64_t offset = 0; offset < job.blockSize; offset += chunk) {
        const size_t length = static_cast<size_t>(std::min(chunk, job.blockSize - offset));
        std::memset(output.data(), 0, output.size());
        std::fill(predicted.begin(), predicted.end(), 0);
        reporter.SetActivity(kActivityRecoveringData, kTextRecoveryData);
        reporter.SetProgress(position, total);

        for (size_t c = 0; c < inputCount; ++c) {
            const DataBlock& block = job.inputs[c];
            if (!block.readPadded(offset, input.data(), length)) {
                reporter.RecordError(kErrorRead, block.file ? block.file->lastError() : EBADF,
                                     block.file ? block.file->path : std::string());
                return false;
            }
            const uint8_t s = BlockChecksum8(input.data(), length);
            for (uint32_t j = 0; j < m; ++j) {
                kernel.prepare(job.matrix->Coefficient(j, static_cast<uint32_t>(c)), factors[j]);
            }
            for (uint32_t j = 0; j < m; ++j) {
                const Factor8Table& factor = factors[j];
                if (factor.factor != 0) {
                    kernel.apply(factor, input.data(), output.data() + j * chunk, length);
                    if (s != 0) predicted[j] ^= Gf8Multiply(factor.factor, s);
                }
                if (Stopped(reporter)) {
                    cancelled = true;
                    return false;
                }
            }
            position += uint64_t{m} * length;
            reporter.SetProgress(position, total);
        }

        reporter.SetActivity(kActivityWritingData, kTextWritingRecoveredData);
        for (uint32_t j = 0; j < m; ++j) {
            uint8_t* data = output.data() + j * chunk;
            if (job.hooks) job.hooks->BeforeSignatureCheck(j, offset, data, length);
            if (BlockChecksum8(data, length) != predicted[j]) {
                reporter.RecordError(kErrorSignatureMismatch, 0, {});
                return false;
            }
            const DataBlock& target = job.outputs[j];
            if (offset >= target.length) continue;
            const size_t part =
                static_cast<size_t>(std::min<uint64_t>(length, target.length - offset));
            if (!target.file || !target.file->write(target.offset + offset, data, part)) {
                reporter.RecordError(kErrorWrite, target.file ? target.file->lastError() : EBADF,
                                     target.file ? target.file->path : std::string());
                return false;
            }
        }
    }
    return true;
}

}  // namespace vantrove
