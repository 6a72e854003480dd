#include "engine/set_file.h"

namespace vantrove {

void SetFile::PresenceChanged(Presence presence) {
    result = presence == Presence::Created ? VerifyResult::NotVerified : VerifyResult::Missing;
    readError = 0;
}

}  // namespace vantrove
