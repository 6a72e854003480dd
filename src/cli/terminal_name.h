#pragma once
// How the command line prints a file name. A name comes from a set that
// anybody may have made, so it may hold bytes that a terminal takes as
// commands (ESC, BEL, CR, LF, the C1 controls) or bytes that are not UTF-8
// at all. Such a name is printed whole in the shell's escape quoting, the
// form `ls --quoting-style=shell-escape` gives it:
//
//   a<LF>b         ->  'a'$'\n''b'
//   <ESC>[2J       ->  ''$'\033''[2J'
//   a<0xFF>.txt    ->  'a'$'\377''.txt'
//
// which a shell reads back as the exact bytes. Every other name, with
// spaces, quotes or any printable non-ASCII letter, is printed as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrove::cli {

// The length of the valid UTF-8 sequence at text[i] (1 for ASCII), or 0
// when the byte there starts none: a stray continuation byte, an overlong
// form, a surrogate, a code point above U+10FFFF or a cut-off sequence.
size_t Utf8SequenceLength(std::string_view text, size_t i);

// True when all of `text` is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// True when `name` can be printed as it is: valid UTF-8 holding no control
// character (U+0000 to U+001F, U+007F to U+009F).
bool PrintsAsIs(std::string_view name);

// `name` as every text output of the command line shows it: itself when
// PrintsAsIs, otherwise its shell-escape quoted form.
std::string TerminalName(std::string_view name);

}  // namespace vantrove::cli
