#include "cli/terminal_name.h"

#include <cstdint>
#include <utility>

namespace vantrove::cli {
namespace {

// A control character: C0, DEL, or C1 (U+0080 to U+009F, two bytes in
// UTF-8 starting with 0xC2).
bool IsControlAt(std::string_view text, size_t i, size_t length) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (length == 1) return c < 0x20 || c == 0x7F;
    return length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

// One byte inside $'...': the named escapes the shell knows, else three
// octal digits.
void AppendEscapedByte(std::string& out, unsigned char c) {
    static constexpr std::pair<char, char> kNamed[] = {
        {'\a', 'a'}, {'\b', 'b'}, {'\t', 't'}, {'\n', 'n'}, {'\v', 'v'}, {'\f', 'f'}, {'\r', 'r'},
    };
    for (const auto& [byte, letter] : kNamed) {
        if (c == static_cast<unsigned char>(byte)) {
            out += '\\';
            out += letter;
            return;
        }
    }
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n;
    uint32_t min;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    uint32_t cp = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool PrintsAsIs(std::string_view name) {
    for (size_t i = 0; i < name.size();) {
        const size_t n = Utf8SequenceLength(name, i);
        if (n == 0 || IsControlAt(name, i, n)) return false;
        i += n;
    }
    return true;
}

std::string TerminalName(std::string_view name) {
    if (PrintsAsIs(name)) return std::string(name);
    // Single quotes around the printable runs, $'...' around the bytes to
    // escape; a quote in the name closes the run and is written as \'.
    std::string out = "'";
    bool inEscape = false;
    for (size_t i = 0; i < name.size();) {
        size_t n = Utf8SequenceLength(name, i);
        if (n == 0 || IsControlAt(name, i, n)) {
            if (!inEscape) out += "'$'";
            inEscape = true;
            // An invalid byte goes alone; a control character with all of
            // its bytes.
            if (n == 0) n = 1;
            for (size_t k = 0; k < n; ++k)
                AppendEscapedByte(out, static_cast<unsigned char>(name[i + k]));
        } else if (name[i] == '\'') {
            out += "'\\''";
            inEscape = false;
        } else {
            if (inEscape) out += "''";
            inEscape = false;
            out.append(name, i, n);
        }
        i += n;
    }
    out += '\'';
    return out;
}

}  // namespace vantrove::cli
