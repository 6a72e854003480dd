#include "app/set_format.h"

#include "core/path.h"
#include "formats/md5_checksum_set.h"
#include "formats/par1_format.h"
#include "formats/par1_recovery_set.h"
#include "formats/sfv_checksum_set.h"
#include "par2/par2_recovery_set.h"
#include "par2/volume_name.h"

namespace vantrove {

FormatKind ChooseSetFormat(const std::string& path) {
    const std::string name = FileNameOfPath(path);
    if (!Par1VolumeSetName(name).empty()) return FormatKind::Par1;
    if (!Par2VolumeSetName(name).empty()) return FormatKind::Par2;
    if (!ListSetName(name, ".md5").empty()) return FormatKind::Md5;
    if (!ListSetName(name, ".sfv").empty()) return FormatKind::Sfv;
    return FormatKind::None;
}

std::unique_ptr<RecoverySet> NewEmptySet(FormatKind kind, SetObserver* observer,
                                         const StopFlag* stopFlag) {
    switch (kind) {
        case FormatKind::Par1:
            return NewPar1Set(observer, stopFlag);
        case FormatKind::Par2:
            return NewPar2Set(observer, stopFlag);
        case FormatKind::Md5:
            return NewMd5Set(observer, stopFlag);
        case FormatKind::Sfv:
            return NewSfvSet(observer, stopFlag);
        case FormatKind::None:
            break;
    }
    return nullptr;
}

const char* SetFormatName(FormatKind kind) {
    switch (kind) {
        case FormatKind::Par1:
            return "PAR1";
        case FormatKind::Par2:
            return "PAR2";
        case FormatKind::Md5:
            return "MD5";
        case FormatKind::Sfv:
            return "SFV";
        case FormatKind::None:
            break;
    }
    return "";
}

}  // namespace vantrove
