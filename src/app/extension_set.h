#pragma once
// Reading the PAR 2.0 set that an extension adds recovery volumes to.
//
// The set is read by the loader that verification uses: a packet counts only
// when its hash checks, the set id is chosen the way a verification chooses
// it, and a set counts only with the description and the block checksums of
// every file it protects. Every volume of the set's base name in its folder
// is read, so that the new volumes start past every recovery block the set
// has; no data file is read. The desktop's "Extra" and the command line's
// `create --extend` both come here.
//
// Any thread; touches only the files it reads.

#include <string>
#include <vector>

#include "core/md5.h"
#include "create/creation_parameters.h"

namespace vantrove {

class RecoverySet;

// Reads the set of the volume at `path` into `info`. With `setId` the set of
// that id is taken (the one a verification loaded), else the one the loader
// chooses. `info.folder` is the set's folder as the system finds it, so that
// the new volumes land beside the old ones whatever the current folder.
// False with `error` set (a short English text) when `path` names no PAR 2.0
// file, no complete set is found, or a file name of the set cannot be used in
// its folder.
bool ReadSetForExtension(const std::string& path, ExistingSetInfo& info, std::string& error,
                         const Md5Digest* setId = nullptr);

// The set a verification loaded (`set`, a PAR 2.0 set) read again from its
// volumes, so that the new volumes take what is on disk now: the reading
// starts at one of its volumes that still exists (else at the folder's
// "<base name>.par2"). False with `error` set when that fails or `set` is no
// complete PAR 2.0 set.
bool ReadLoadedSetForExtension(const RecoverySet& set, ExistingSetInfo& info, std::string& error);

}  // namespace vantrove
