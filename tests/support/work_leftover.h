#pragma once

#include <string>

namespace vantrove::test {

// Leaves the work file of `finalPath` holding `data` as a job killed while
// writing it would: journaled in its folder, made, never put in place.
// Returns its path.
std::string MakeLeftoverWorkFile(const std::string& finalPath, const std::string& data);

}  // namespace vantrove::test
