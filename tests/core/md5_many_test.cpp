#include <gtest/gtest.h>

#include <random>

#include "core/md5.h"
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

}  // namespace
}  // namespace vantrove
