#pragma once
// The stored options that a creation starts from, taken from the settings
// record: the create dialog and the command line begin with the same values.

#include "app/settings.h"
#include "create/creation_parameters.h"

namespace vantrove {

// The creation options of `settings` (its preferred block size as last
// computed; a split limit below 4 bytes counts as 4).
CreationSettings CreationSettingsFrom(const Settings& settings);

}  // namespace vantrove
