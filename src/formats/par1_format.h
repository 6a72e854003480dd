#pragma once
// The PAR 1.0 file layout: the 96-byte header, the file list, the volume
// naming rule and the creator text.
//
// Every file of a PAR 1.0 set (the main file "x.par" and the recovery
// volumes "x.p01", "x.p02", ...) starts with the header below and carries
// the same list of protected files; a recovery volume adds one recovery
// block, the size of the largest protected file. All integers are
// little-endian.
//
//   offset size field
//   0      8    "PAR" and five zero bytes
//   8      4    format version 0x00010000
//   12     4    generator: client id, major, minor, sub-version (bytes 3..0)
//   16     16   control hash: MD5 of the file from offset 32 to its end
//   32     16   set hash (not used)
//   48     8    volume number: 0 main file, 1... recovery volumes
//   56     8    number of files in the list
//   64     8    offset of the file list
//   72     8    size of the file list
//   80     8    offset of the recovery data
//   88     8    size of the recovery data
//
// File list entry: entry size (8, including itself), status (8, bit 0: the
// file is protected), file size (8), MD5 of the file (16), MD5 of its first
// 16 KiB (16), then the name in UTF-16LE without terminator.
//
// Pure functions over the bytes they are given; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/md5.h"

namespace vantrove {

inline constexpr size_t kPar1HeaderSize = 96;
inline constexpr uint32_t kPar1Version = 0x00010000;
// Files made by this generator carry 16 KiB hashes that cannot be trusted.
inline constexpr uint32_t kPar1UntrustedHashGenerator = 0x03000101;
inline constexpr size_t kPar1ControlHashStart = 32;
inline constexpr uint64_t kPar1MaxFileListSize = 200000;
inline constexpr uint64_t kPar1EntryHeadSize = 56;
inline constexpr uint64_t kPar1MinEntrySize = 57;
inline constexpr uint64_t kPar1MaxVolumeNumber = 255;
inline constexpr size_t kPar1Hash16kLength = 16384;

struct Par1Header {
    uint32_t version = 0;
    uint32_t generator = 0;
    Md5Digest controlHash;
    Md5Digest setHash;
    uint64_t volumeNumber = 0;
    uint64_t fileCount = 0;
    uint64_t fileListOffset = 0;
    uint64_t fileListSize = 0;
    uint64_t dataOffset = 0;
    uint64_t dataSize = 0;
};

// Reads the header from 96 bytes; false unless the magic and the version
// match.
bool ParsePar1Header(const uint8_t* bytes, Par1Header& header);
// The remaining header checks for a file of `fileSize` bytes: volume number
// below 256, a file list of 1 to 200,000 bytes after the header and inside
// the file, and recovery data (when there is any) after the header, inside
// the file and apart from the file list.
bool Par1HeaderUsable(const Par1Header& header, uint64_t fileSize);

struct Par1FileEntry {
    uint64_t status = 0;
    uint64_t size = 0;
    Md5Digest hash;
    Md5Digest hash16k;
    std::string name;  // converted by Par1NameToString
};

// The protected part of a file list.
struct Par1FileList {
    std::vector<uint8_t> protectedBytes;  // the protected entries, byte for byte
    std::vector<Par1FileEntry> entries;   // the protected entries, in list order
    uint64_t blockSize = 0;               // the largest protected file size
    uint64_t totalSize = 0;               // the sum of the protected file sizes
};

// Walks the file list, at most `announced` entries, stopping at an entry
// that fails the size checks. False when fewer than `announced` entries
// were read.
bool ParsePar1FileList(const uint8_t* data, size_t size, uint64_t announced, Par1FileList& out);

// A file name from UTF-16LE code units, ended by a zero unit: every unit (or
// surrogate pair) becomes its UTF-8 encoding, a lone surrogate '?'. Some
// writers store the bytes of a UTF-8 name one per unit, widened with or
// without sign extension (units below 256 or from 0xFF80 up): when every
// unit is such a byte and the bytes are UTF-8 with a non-ASCII character,
// the bytes are the name.
std::string Par1NameToString(const uint8_t* utf16le, size_t bytes);

// The set name of a PAR 1.0 file name: the name up to its last '.' when
// exactly three characters follow it, the first 'p' or 'P' and the others
// "ar" (either case) or two digits, and at least one character precedes the
// '.' after the last '/'. Empty otherwise.
std::string Par1VolumeSetName(const std::string& fileName);

// "<client> versione a.b.c" from a generator value.
std::string Par1CreatorText(uint32_t generator);

}  // namespace vantrove
