#pragma once
// The set name of a PAR 2.0 volume file: its name without ".par2" and
// without a volume suffix such as ".vol03+04". Pure functions; any thread.

#include <string>

namespace vantrove {

// The base name that `fileName` (without folder) gives as a PAR 2.0 volume,
// comparing letters without regard to case:
//   name.par2, name.vol000+01.par2, name.vol7-15.PAR2, name_vol0+1.par2 -> name
//   namevol0+1.par2 -> namevol0+1
// Empty when the name does not end in ".par2", and when nothing is left of it
// before the volume pattern: ".par2", "2004.par2", "vol1+2.par2".
std::string Par2VolumeSetName(const std::string& fileName);

}  // namespace vantrove
