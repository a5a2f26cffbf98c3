#pragma once
// The command line of the commands that take one saved file and a few switches (repair,
// verify): their own flags only, "--" before a name that starts with a dash.

#include <set>
#include <string>
#include <vector>

namespace qor::cli {

struct FileCommandArgs {
  std::string file;
  std::set<std::string> flags;  // the switches given, as written ("--json")
  bool help = false;
};

// An empty text on success, else the usage error.
inline std::string ParseFileCommandArgs(const std::vector<std::string>& args,
                                        const std::set<std::string>& known, FileCommandArgs& out) {
  bool names = false;
  std::vector<std::string> files;
  for (const std::string& a : args) {
    if (!names && a == "--") {
      names = true;
    } else if (!names && (a == "-h" || a == "--help")) {
      out.help = true;
    } else if (!names && a.size() > 1 && a[0] == '-') {
      if (known.count(a) == 0) return "unknown flag " + a;
      out.flags.insert(a);
    } else {
      files.push_back(a);
    }
  }
  if (out.help) return std::string();
  if (files.empty()) return "missing argument: FILE";
  if (files.size() > 1) return "too many arguments: one FILE is checked at a time";
  out.file = files[0];
  return std::string();
}

}  // namespace qor::cli
