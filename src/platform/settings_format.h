#pragma once
// The text form of the settings file:
//
//   [Software\Qor\Qor downloader\2.3.0]
//   URLList=mms://one%0D%0Amms://two
//
// Key paths, names and values are escaped as %XX for every byte below 0x20, 0x7F and '%'; key
// paths and names also escape '=', '[', ']' and '#'. Bytes 0x80 and up are kept as they are, so
// any byte string round-trips. Blank lines and lines starting with '#' are ignored. Key paths and
// names compare without regard to ASCII case, like the registry they stand in for.

#include <map>
#include <string>
#include <string_view>

namespace qor {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

using SettingsValues = std::map<std::string, std::string, CaseInsensitiveLess>;
using SettingsKeys = std::map<std::string, SettingsValues, CaseInsensitiveLess>;

struct ParsedSettings {
  SettingsKeys keys;
  int badLines = 0;  // lines that do not parse; their content is not in keys
};

std::string EscapeSettingsText(std::string_view text, bool isNameOrKey);
// False when an escape is malformed.
bool UnescapeSettingsText(std::string_view text, std::string& out);

// "Software\\Qor\\" and "\\Software\\Qor" name the same key as "Software\\Qor".
std::string NormaliseKeyPath(std::string_view keyPath);

ParsedSettings ParseSettings(std::string_view text);
std::string SerialiseSettings(const SettingsKeys& keys);

}  // namespace qor
