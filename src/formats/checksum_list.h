#pragma once
// Checksum lists: the line syntax of SFV and MD5 files and the reader that
// cuts such a file into lines.
//
// An SFV line is a name, one space and eight hexadecimal digits (the CRC-32,
// most significant byte first). An MD5 line follows one of six layouts that
// different programs write; the layout number is kept so that the set can
// name the program. ReadChecksumList reads a list file in portions of at most
// kChecksumListPortion bytes, cuts them into lines at CR, LF or the
// end-of-file mark 0x1A, skips comment lines (the comment character is
// learned from the first line that is not an entry) and hands every other
// line to the caller's parser.
//
// Pure functions over the data they are given; the reader uses the DiskFile
// it is handed on the calling thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/disk_file.h"
#include "core/md5.h"

namespace vantrove {

// Largest portion of a list file read at once.
inline constexpr size_t kChecksumListPortion = 1048576;

// MD5 line layouts (the value of `md5LineStyle`); 0 means none.
enum Md5LineStyle : int32_t {
    kMd5StyleNone = 0,
    kMd5StyleTab = 1,         // 32 hex digits, a tab, the name
    kMd5StyleStar = 2,        // 32 hex digits, a space, '*' or a space, the name
    kMd5StyleEquals = 3,      // the name, '=', 32 hex digits
    kMd5StyleSpace = 4,       // the name, a space, 32 hex digits
    kMd5StyleBsd = 5,         // "md5 (" name ") = " 32 hex digits
    kMd5StyleByteGroups = 6,  // the name, ':', sixteen groups " XX"
};

// Parses one SFV line. True for an entry; `name` and `crc` are set then.
bool ParseSfvLine(std::string_view line, std::string& name, uint32_t& crc);

// Parses one MD5 line; returns the layout that fits first (kMd5StyleNone
// when none does). `name` and `digest` are set for a fitting line.
int32_t ParseMd5Line(std::string_view line, std::string& name, Md5Digest& digest);

// The program that writes MD5 lines of `style`; "unknown" for any other value.
const char* Md5StyleCreator(int32_t style);

// How reading a list ended.
enum class ChecksumListRead {
    Complete,  // every byte was read
    Failed,    // a read failed
    Stopped,   // `progress` asked to stop
};

// Reads `file` (open, size known) from its start. `parseLine` gets every
// line that is not a comment and returns whether it was an entry; a line
// that is not, met while no comment character is known yet, makes its first
// character the comment character. `progress` gets the byte position after
// each portion and returns false to stop. `portion` is the largest portion
// read at once (kChecksumListPortion unless a test wants another).
ChecksumListRead ReadChecksumList(DiskFile& file,
                                  const std::function<bool(std::string_view line)>& parseLine,
                                  const std::function<bool(uint64_t position)>& progress,
                                  size_t portion = kChecksumListPortion);

}  // namespace vantrove
