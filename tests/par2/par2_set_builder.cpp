#include "par2_set_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/crc32.h"
#include "core/disk_file.h"
#include "par2/creator_packet.h"
#include "par2/file_description_packet.h"
#include "par2/ifsc_packet.h"
#include "par2/main_packet.h"
#include "par2/recovery_slice_packet.h"
#include "rs/galois_field.h"
#include "support/test_env.h"

namespace vantrove::test {

Par2SetBuilder::Par2SetBuilder(std::string folder, uint64_t sliceSize)
    : folder_(std::move(folder)), sliceSize_(sliceSize) {}

void Par2SetBuilder::AddFile(const std::string& name, const Bytes& content) {
    names_.push_back(name);
    contents_.push_back(content);
    WriteFile(folder_ + name, content);
}

size_t Par2SetBuilder::totalBlocks() const {
    size_t total = 0;
    for (const Bytes& c : contents_) total += (c.size() + sliceSize_ - 1) / sliceSize_;
    return total;
}

void Par2SetBuilder::Build(const std::vector<Md5Digest>& extraIds) {
    std::vector<FileDescriptionPacket> descriptions(names_.size());
    fileIds_.clear();
    for (size_t i = 0; i < names_.size(); ++i) {
        DiskFile file(folder_ + names_[i]);
        ASSERT_TRUE(file.open());
        int error = 0;
        ASSERT_TRUE(descriptions[i].Build(file, names_[i], contents_[i].size(), true, {}, error));
        fileIds_.push_back(descriptions[i].fileId());
    }
    std::vector<Md5Digest> ids = fileIds_;
    ids.insert(ids.end(), extraIds.begin(), extraIds.end());
    MainPacket main;
    ASSERT_TRUE(main.Build(sliceSize_, ids));
    setId_ = main.ComputeSetId();
    main_ = main.bytes();

    descriptions_.clear();
    checksums_.clear();
    for (size_t i = 0; i < names_.size(); ++i) {
        descriptions[i].Seal(setId_);
        descriptions_.push_back(descriptions[i].bytes());
        const Bytes& c = contents_[i];
        const uint64_t count = (c.size() + sliceSize_ - 1) / sliceSize_;
        IfscPacket ifsc;
        ASSERT_TRUE(ifsc.Build(count, setId_, fileIds_[i]));
        for (uint64_t b = 0; b < count; ++b) {
            // The block, zero-padded to the slice size without a buffer of
            // that size.
            const size_t begin = b * sliceSize_;
            const size_t length = std::min<size_t>(sliceSize_, c.size() - begin);
            Md5Context md5;
            md5.Update(c.data() + begin, length);
            md5.UpdateZeros(sliceSize_ - length);
            const uint32_t crc =
                Crc32UpdateZeros(Crc32Update(0, c.data() + begin, length), sliceSize_ - length);
            ifsc.SetEntry(static_cast<uint32_t>(b), md5.Final(), crc);
        }
        ifsc.Finish();
        checksums_.push_back(ifsc.bytes());
    }
    CreatorPacket creator;
    ASSERT_TRUE(creator.Build(setId_));
    creator_ = creator.bytes();
}

Bytes Par2SetBuilder::Slice(uint32_t exponent) const {
    RecoverySlicePacket slice;
    EXPECT_TRUE(slice.BuildHead(setId_, exponent, sliceSize_));
    Bytes data(sliceSize_);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + exponent);
    slice.FeedData(data.data(), data.size());
    EXPECT_TRUE(slice.Finish());
    Bytes packet(68 + data.size());
    std::memcpy(packet.data(), slice.head(), 68);
    std::memcpy(packet.data() + 68, data.data(), data.size());
    return packet;
}

namespace {

Bytes SlicePacket(const Md5Digest& setId, uint32_t exponent, const Bytes& data) {
    RecoverySlicePacket slice;
    EXPECT_TRUE(slice.BuildHead(setId, exponent, data.size()));
    slice.FeedData(data.data(), data.size());
    EXPECT_TRUE(slice.Finish());
    Bytes packet(68 + data.size());
    std::memcpy(packet.data(), slice.head(), 68);
    std::memcpy(packet.data() + 68, data.data(), data.size());
    return packet;
}

}  // namespace

Bytes Par2SetBuilder::RealSlice(uint32_t exponent) const {
    // Inputs are numbered in the main packet's order: file ids compared as
    // 128-bit little-endian numbers.
    std::vector<size_t> order(contents_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](size_t x, size_t y) {
        const Md5Digest& a = fileIds_[x];
        const Md5Digest& b = fileIds_[y];
        for (int i = 15; i >= 0; --i) {
            if (a.bytes[i] != b.bytes[i]) return a.bytes[i] < b.bytes[i];
        }
        return false;
    });
    Bytes data(sliceSize_, 0);
    uint32_t input = 0;
    for (size_t index : order) {
        const Bytes& c = contents_[index];
        for (size_t begin = 0; begin < c.size(); begin += sliceSize_, ++input) {
            const uint16_t factor =
                Gf16Power(Gf16InputBase(input), static_cast<uint16_t>(exponent % 65535));
            const size_t length = std::min<size_t>(sliceSize_, c.size() - begin);
            for (size_t i = 0; i < length; i += 2) {
                uint16_t word = c[begin + i];
                if (i + 1 < length) word |= static_cast<uint16_t>(c[begin + i + 1]) << 8;
                const uint16_t product = Gf16Multiply(factor, word);
                data[i] ^= static_cast<uint8_t>(product);
                data[i + 1] ^= static_cast<uint8_t>(product >> 8);
            }
        }
    }
    return SlicePacket(setId_, exponent, data);
}

Bytes Par2SetBuilder::SliceOfLength(uint32_t exponent, uint64_t dataLength) const {
    Bytes data(dataLength);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + exponent);
    return SlicePacket(setId_, exponent, data);
}

std::vector<Bytes> Par2SetBuilder::Critical() const {
    std::vector<Bytes> packets{main_};
    packets.insert(packets.end(), descriptions_.begin(), descriptions_.end());
    packets.insert(packets.end(), checksums_.begin(), checksums_.end());
    packets.push_back(creator_);
    return packets;
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void WriteVolume(const std::string& path, const std::vector<Bytes>& parts) {
    WriteFile(path, Concat(parts));
}

}  // namespace vantrove::test
