#pragma once
// qor-cli batch: opens a play list and downloads every entry of the URL list one after another,
// unattended, as Go Batch does: each entry into its own automatically named file. An entry that
// fails does not stop the batch. At the end one line per entry and a summary go to stdout.

#include <string>
#include <vector>

namespace qor::cli {

int RunBatch(const std::vector<std::string>& args);
std::string BatchUsage();

}  // namespace qor::cli
