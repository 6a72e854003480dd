#include <gtest/gtest.h>

#include <random>

#include "core/md5.h"
#include "core/md5_kernels.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

// UpdateMany must give exactly the digests of Update, stream by stream,
// whatever the number of streams, their lengths and what they had buffered.
TEST(Md5UpdateMany, MatchesUpdateStreamByStream) {
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 60; ++round) {
        const size_t count = 1 + rng() % 40;
        const size_t length = round < 4 ? static_cast<size_t>(round) * 32 : rng() % 5000;
        std::vector<std::vector<uint8_t>> data(count);
        std::vector<Md5Context> many(count), one(count);
        std::vector<Md5Context*> pointers;
        std::vector<const uint8_t*> inputs;
        for (size_t i = 0; i < count; ++i) {
            // Some streams start with a part of a block already buffered.
            if (rng() % 3 == 0) {
                std::vector<uint8_t> head = test::RandomBytes(rng, rng() % 100);
                many[i].Update(head.data(), head.size());
                one[i].Update(head.data(), head.size());
            }
            data[i] = test::RandomBytes(rng, length);
            pointers.push_back(&many[i]);
            inputs.push_back(data[i].data());
        }
        Md5Context::UpdateMany(pointers.data(), inputs.data(), count, length);
        for (size_t i = 0; i < count; ++i) {
            one[i].Update(data[i].data(), length);
            ASSERT_EQ(many[i].Final(), one[i].Final()) << round << " " << i;
            ASSERT_EQ(many[i].totalBytes(), one[i].totalBytes());
        }
        // And the streams go on correctly afterwards.
        std::vector<uint8_t> tail = test::RandomBytes(rng, 77);
        many[0].Update(tail.data(), tail.size());
        one[0].Update(tail.data(), tail.size());
        ASSERT_EQ(many[0].Final(), one[0].Final());
    }
}

// Each kernel the processor can run, against Update stream by stream: every
// count of streams from 1 to 20 (so 8 and 16 lanes, full and partly empty,
// and the lanes beyond them), lengths 0 to 200 and a few long ones, data at
// every alignment, streams that had hashed prefixes of different lengths.
class Md5ManyKernels : public ::testing::TestWithParam<Md5ManyKernel> {
  protected:
    void SetUp() override {
        if (!Md5ManyKernelAvailable(GetParam())) GTEST_SKIP() << "not on this processor";
        SetMd5ManyKernel(GetParam());
    }
    void TearDown() override { SetMd5ManyKernel(Md5ManyKernel::Best); }
};

TEST_P(Md5ManyKernels, MatchUpdateStreamByStream) {
    std::mt19937_64 rng(test::TestSeed());
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 200; ++length) lengths.push_back(length);
    for (size_t length : {4096u, 65536u + 64u, 100000u}) lengths.push_back(length);
    for (size_t count = 1; count <= 20; ++count) {
        for (size_t length : lengths) {
            if (length > 200 && count % 4 != 0) continue;  // long ones at a few counts
            std::vector<Md5Context> many(count), one(count);
            std::vector<Md5Context*> pointers;
            std::vector<std::vector<uint8_t>> storage(count);
            std::vector<const uint8_t*> inputs;
            for (size_t i = 0; i < count; ++i) {
                // Most streams stand on a block boundary after a prefix of
                // whole blocks; some have part of a block buffered.
                const size_t prefix = (rng() % 4) * 64 + (rng() % 5 == 0 ? 1 + rng() % 63 : 0);
                std::vector<uint8_t> head = test::RandomBytes(rng, prefix);
                many[i].Update(head.data(), head.size());
                one[i].Update(head.data(), head.size());
                const size_t misalign = rng() % 64;
                storage[i] = test::RandomBytes(rng, length + misalign);
                pointers.push_back(&many[i]);
                inputs.push_back(storage[i].data() + misalign);
            }
            Md5Context::UpdateMany(pointers.data(), inputs.data(), count, length);
            for (size_t i = 0; i < count; ++i) {
                one[i].Update(inputs[i], length);
                ASSERT_EQ(many[i].Final(), one[i].Final())
                    << "count " << count << " length " << length << " stream " << i;
                ASSERT_EQ(many[i].totalBytes(), one[i].totalBytes());
            }
        }
    }
}

// Streams that read the same memory (the empty lanes repeat stream 0, and
// callers may hash one buffer into several contexts).
TEST_P(Md5ManyKernels, StreamsSharingOneBuffer) {
    std::mt19937_64 rng(test::TestSeed());
    const std::vector<uint8_t> data = test::RandomBytes(rng, 4096);
    for (size_t count : {2u, 5u, 8u, 9u, 16u, 17u}) {
        std::vector<Md5Context> many(count);
        std::vector<Md5Context*> pointers;
        std::vector<const uint8_t*> inputs(count, data.data());
        for (Md5Context& context : many) pointers.push_back(&context);
        Md5Context::UpdateMany(pointers.data(), inputs.data(), count, data.size());
        for (const Md5Context& context : many) {
            ASSERT_EQ(context.Final(), Md5Of(data.data(), data.size())) << count;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Md5ManyKernels,
                         ::testing::Values(Md5ManyKernel::Best, Md5ManyKernel::Avx2,
                                           Md5ManyKernel::Scalar),
                         [](const ::testing::TestParamInfo<Md5ManyKernel>& info) {
                             switch (info.param) {
                                 case Md5ManyKernel::Best:
                                     return "Best";
                                 case Md5ManyKernel::Avx2:
                                     return "Avx2";
                                 case Md5ManyKernel::Scalar:
                                     break;
                             }
                             return "Scalar";
                         });

}  // namespace
}  // namespace vantrove
