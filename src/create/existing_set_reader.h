#pragma once
// Reads what the extension of an existing PAR 2.0 set needs: its main
// packet, the description of every file the main packet lists, its folder
// and base name, and the first exponent that none of its recovery slices
// uses. The given volume is read first, then every other file of the folder
// whose name gives the same set name; packets are checked by their hash
// (recovery slices only for their exponent) and grouped by set id. The
// first set id, in reading order, with a main packet and a description of
// each listed file is taken.
//
// Runs on the thread that prepares the creation; touches only the files it
// reads.

#include <string>

#include "create/creation_parameters.h"

namespace vantrove {

// False with `error` set (a short English text) when no complete set is
// found or a file name of the set cannot be used in its folder.
bool ReadExistingSet(const std::string& path, ExistingSetInfo& info, std::string& error);

}  // namespace vantrove
