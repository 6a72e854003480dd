#include "support/work_leftover.h"

#include "core/disk_file.h"

namespace vantrove::test {

std::string MakeLeftoverWorkFile(const std::string& finalPath, const std::string& data) {
    DiskFile file;
    if (!file.createWorkFile(finalPath) || !file.write(0, data.data(), data.size())) return {};
    file.close();
    return file.path;
}

}  // namespace vantrove::test
