#include "cli/repair_command.h"

#include <iostream>

#include "asf/asf_repair.h"
#include "cli/exit_status.h"
#include "cli/file_command_args.h"

namespace qor::cli {

int RunRepair(const std::vector<std::string>& args) {
  FileCommandArgs parsed;
  const std::string error = ParseFileCommandArgs(args, {"--dry-run"}, parsed);
  if (parsed.help) {
    std::cout << RepairUsage();
    return kExitCompleted;
  }
  if (!error.empty()) {
    std::cerr << "qor-cli: " << error << "\nTry 'qor-cli repair --help'.\n";
    return kExitUsage;
  }
  AsfRepairReport report;
  std::string why;
  if (!RepairAsfFile(parsed.file, parsed.flags.count("--dry-run") > 0, report, why)) {
    std::cerr << "qor-cli: " << parsed.file << ": " << why << "; the file was left as it was\n";
    return kExitFailed;
  }
  std::cout << parsed.file << ": " << AsfRepairSummary(report) << "\n";
  return kExitCompleted;
}

std::string RepairUsage() {
  return "Usage: qor-cli repair FILE [--dry-run]\n"
         "\n"
         "Makes a cut, killed or unfinished recording a finished file, without a server:\n"
         "keeps every packet up to the last one that holds media, drops a cut last packet\n"
         "(and unwritten slots after the last good one), rewrites the header's sizes,\n"
         "counts and durations and stores the resume timecode as finishing a download does,\n"
         "and adds the seek index. Packets lost inside the recording stay lost ('qor-cli\n"
         "verify' lists them). Says in one line what it did. The repaired file is written\n"
         "beside FILE under a temporary name, read back, and renamed over FILE with FILE's\n"
         "permissions, so a repair that is stopped half way leaves FILE as it was. A file\n"
         "that is already whole, or that is not an ASF file, is not touched.\n"
         "\n"
         "  --dry-run        only say what would be done\n"
         "\n"
         "Exit status: 0 when the file was repaired, was already whole, or (--dry-run)\n"
         "can be repaired; 1 when it is not an ASF file that can be read, holds nothing to\n"
         "keep, or the repaired copy could not be written (FILE untouched); 2 on a usage\n"
         "error.\n";
}

}  // namespace qor::cli
