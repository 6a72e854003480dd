#pragma once
// The `sanitised name` rule: turns a file name taken from a recovery file
// into one that is safe to create in the set's folder. Directory parts are
// cut, characters that are not allowed in names become '_', and a name that
// would denote a device, the folder itself or its parent gets a leading
// '_'. A pure function; any thread may call it.

#include <string>

namespace vantrove {

// 1. Keeps what follows the last ':' if there is one, else the last '/',
//    else the last '\\'.
// 2. Replaces bytes 0..31 and " * / : < > ? \ | by '_' (bytes 128..255 stay).
// 3. Puts '_' in front when the part before the first '.', upper-cased, is a
//    reserved device name (CON, PRN, AUX, CLOCK$, NUL, COM1..9, LPT1..9),
//    and also when the name is empty, "." or "..".
std::string SanitisedName(const std::string& name);

}  // namespace vantrove
