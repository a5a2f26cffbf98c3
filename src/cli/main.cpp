// qor-cli: the command-line front end.

#include <cstring>
#include <iostream>

#include "support/helper.h"

namespace {

const char* const kUsage =
    "Usage: qor-cli [--help] [--version]\n"
    "\n"
    "Records Windows Media streams (MMS over TCP or UDP, HTTP streaming) to .asf files.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 success, 2 usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "qor-cli " << qor::kVersionText << "\n";
      return 0;
    }
    std::cerr << "qor-cli: unknown argument '" << argv[i] << "'\n" << kUsage;
    return 2;
  }
  std::cout << kUsage;
  return 0;
}
