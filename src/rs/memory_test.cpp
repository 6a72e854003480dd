#include "rs/memory_test.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>

#include "core/worker_team.h"

namespace vantrove {
namespace {

constexpr size_t kStepBytes = 262144;  // progress is reported after this many bytes
// Steps each thread takes per start of the team.
constexpr size_t kStepsPerThread = 32;

// Writes `count` copies of `pattern` from `w` on. The bulk goes with
// streaming stores straight to memory: the old contents need not be read
// in first, and the read-back then comes from memory rather than a cache.
void FillWords(uint32_t* w, size_t count, uint32_t pattern) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i < count && (reinterpret_cast<uintptr_t>(w + i) & 15) != 0; ++i) w[i] = pattern;
    const __m128i v = _mm_set1_epi32(static_cast<int>(pattern));
    for (; i + 16 <= count; i += 16) {
        auto* p = reinterpret_cast<__m128i*>(w + i);
        _mm_stream_si128(p, v);
        _mm_stream_si128(p + 1, v);
        _mm_stream_si128(p + 2, v);
        _mm_stream_si128(p + 3, v);
    }
    // Streaming stores are weakly ordered: finish them before the words are
    // read back, on this thread or another.
    _mm_sfence();
#endif
    for (; i < count; ++i) w[i] = pattern;
}

struct Step {
    uint32_t* words;
    size_t count;
};

class MemoryTest {
  public:
    MemoryTest(const std::vector<MemoryArea>& areas, WorkerTeam& team,
               const MemoryTestCallbacks& callbacks)
        : areas_(areas), team_(team), callbacks_(callbacks), total_(MemoryTestTotal(areas)) {
        const size_t stepWords = kStepBytes / 4;
        for (const MemoryArea& area : areas) {
            const size_t words = area.bytes / 4;
            for (size_t w = 0; w < words; w += stepWords)
                steps_.push_back({reinterpret_cast<uint32_t*>(area.data) + w,
                                  std::min(stepWords, words - w)});
        }
        difference_.resize(size_t{team.Size()} * kStepsPerThread);
    }

    MemoryTestOutcome Run() {
        Report();
        for (uint32_t pattern : kMemoryTestPatterns) {
            const MemoryTestOutcome outcome = FillAndCheck(pattern);
            if (outcome != MemoryTestOutcome::Passed) return outcome;
        }
        return MemoryTestOutcome::Passed;
    }

  private:
    void Report() {
        if (callbacks_.progress) callbacks_.progress(position_, total_);
    }

    // Runs `work(words, count)` over every step, a group of steps at a time
    // shared by the threads (which pay for every start of the team, so the
    // groups are large); progress is reported step by step afterwards, up to
    // the first step that found a difference.
    template <typename Work>
    MemoryTestOutcome Walk(Work work) {
        const unsigned threads = team_.Size();
        const size_t perGroup = difference_.size();
        for (size_t group = 0; group < steps_.size(); group += perGroup) {
            const size_t n = std::min(perGroup, steps_.size() - group);
            team_.Run([&](unsigned k) {
                for (size_t i = k; i < n; i += threads)
                    difference_[i] = work(steps_[group + i].words, steps_[group + i].count);
            });
            for (size_t i = 0; i < n; ++i) {
                if (difference_[i] != 0) return MemoryTestOutcome::Differs;
                position_ += 4 * steps_[group + i].count;
                Report();
            }
            if (callbacks_.stopRequested && callbacks_.stopRequested())
                return MemoryTestOutcome::Stopped;
        }
        return MemoryTestOutcome::Passed;
    }

    MemoryTestOutcome FillAndCheck(uint32_t pattern) {
        auto fill = [pattern](uint32_t* w, size_t count) -> uint32_t {
            FillWords(w, count, pattern);
            return 0;
        };
        // Differences are gathered without a branch so that the comparison
        // runs at memory speed.
        auto check = [pattern](const uint32_t* w, size_t count) -> uint32_t {
            uint32_t d = 0;
            for (size_t i = 0; i < count; ++i) d |= w[i] ^ pattern;
            return d;
        };
        const auto lowByte = static_cast<uint8_t>(pattern);
        MemoryTestOutcome outcome = Walk(fill);
        if (outcome != MemoryTestOutcome::Passed) return outcome;
        // Bytes after the last whole word of an area take the pattern's low
        // byte.
        for (const MemoryArea& area : areas_)
            for (size_t i = area.bytes / 4 * 4; i < area.bytes; ++i) area.data[i] = lowByte;
        if (callbacks_.afterPatternWritten)
            for (const MemoryArea& area : areas_) callbacks_.afterPatternWritten(area.data, area.bytes);
        outcome = Walk(check);
        if (outcome != MemoryTestOutcome::Passed) return outcome;
        for (const MemoryArea& area : areas_)
            for (size_t i = area.bytes / 4 * 4; i < area.bytes; ++i)
                if (area.data[i] != lowByte) return MemoryTestOutcome::Differs;
        return MemoryTestOutcome::Passed;
    }

    const std::vector<MemoryArea>& areas_;
    WorkerTeam& team_;
    const MemoryTestCallbacks& callbacks_;
    const uint64_t total_;
    std::vector<Step> steps_;
    std::vector<uint32_t> difference_;
    uint64_t position_ = 0;
};

}  // namespace

uint64_t MemoryTestTotal(const std::vector<MemoryArea>& areas) {
    uint64_t bytes = 0;
    for (const MemoryArea& area : areas) bytes += area.bytes;
    return bytes * 32;
}

MemoryTestOutcome TestWorkingMemory(const std::vector<MemoryArea>& areas, WorkerTeam& team,
                                    const MemoryTestCallbacks& callbacks) {
    MemoryTest test(areas, team, callbacks);
    return test.Run();
}

}  // namespace vantrove
