// qor-cli: the command-line front end of the window logic.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/batch_command.h"
#include "cli/cli_options.h"
#include "cli/download_run.h"
#include "cli/exit_status.h"
#include "cli/info_command.h"
#include "cli/open_command.h"
#include "cli/repair_command.h"
#include "cli/terminal_output.h"
#include "cli/verify_command.h"
#include "support/helper.h"

int main(int argc, char** argv) {
  using namespace qor::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  // open, batch, repair and verify read their own flags.
  if (!args.empty() && args[0] == "open") return RunOpen({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "batch") return RunBatch({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "repair") return RunRepair({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "verify") return RunVerify({args.begin() + 1, args.end()});
  const ParseResult parsed = ParseCommandLine(args);
  const CliOptions& o = parsed.options;
  if (!parsed.error.empty()) {
    std::cerr << "qor-cli: " << parsed.error << "\n"
              << (o.command == Command::None
                      ? std::string("Try 'qor-cli --help'.\n")
                      : "Try 'qor-cli " + CommandName(o.command) + " --help'.\n");
    return kExitUsage;
  }
  if (o.help || o.command == Command::Help) {
    std::cout << CommandUsage(o.help ? o.command : Command::Help);
    return kExitCompleted;
  }
  switch (o.command) {
    case Command::Version:
      std::cout << "qor-cli " << qor::kVersionText << "\n";
      return kExitCompleted;
    case Command::Info:
      return RunInfo(o);
    case Command::Get:
    case Command::Record: {
      if (const std::string note = PlayListNote(CommandName(o.command), o.url); !note.empty()) {
        std::cerr << "qor-cli: " << note << "\n";
        return kExitUsage;
      }
      InstallInterruptHandler();
      TerminalOutput out(stderr);
      try {
        DownloadRun run(o, out);
        return o.command == Command::Get ? run.Get() : run.Record();
      } catch (const std::exception& e) {
        out.Note(e.what());
        return kExitFailed;
      }
    }
    default:
      std::cout << GeneralUsage();
      return kExitCompleted;
  }
}
