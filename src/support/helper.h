#pragma once
// THelper: the shared text, location, settings, time and GUID helpers. Positions are 1-based and
// lengths count bytes; no operation reads outside its input.

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

class TMessageClass;
class SettingsStore;

// Location flags given by ClassifyLocation.
enum LocationFlag : uint32_t {
  lcLocalFile = 0x1,
  lcNetwork = 0x2,
  lcHttp = 0x4,
  lcMms = 0x8,
  lcPnm = 0x10,
  lcNoExtension = 0x20,
  lcMediaFile = 0x40,
  lcRedirector = 0x80,
  lcWmd = 0x100,
  lcText = 0x200,
  lcRealMedia = 0x400,
  lcWmsWmz = 0x800,
  lcScriptPage = 0x1000,
};

// Every caller keeps its settings under this key path; the store adds the version.
inline constexpr const char* kSettingsKeyPath = "Software\\Qor\\Qor downloader\\";
inline constexpr const char* kVersionText = "2.3.0";

class THelper {
 public:
  THelper() = default;

  // Not owned; set only in the main window's helper.
  TMessageClass* Messages = nullptr;

  // Text primitives.
  static int32_t Length(const std::string& text);
  static std::string Left(const std::string& text, int32_t n);
  static std::string Mid(const std::string& text, int32_t pos, int32_t n);
  static std::string Right(const std::string& text, int32_t n);
  static std::string IntText(int64_t n);
  static std::string CharText(uint8_t code);
  // Trims leading and trailing blanks and control characters (bytes up to 32).
  static std::string Trim(const std::string& text);
  static std::string LowerCase(const std::string& text);

  // Locations.
  static std::string HostOf(const std::string& url);
  static std::string PathOf(const std::string& url);
  static std::string FileNameOf(const std::string& text);
  static std::string StripExtension(const std::string& text);
  static std::string StripQuery(const std::string& text);
  static uint32_t ClassifyLocation(const std::string& text);

  // Settings: keyPath + kVersionText in the store (the default store unless one is given with
  // UseStore). Read gives the empty text for anything missing; both raise SettingsError when the
  // store cannot be used.
  std::string ReadSetting(const std::string& keyPath, const std::string& name) const;
  void WriteSetting(const std::string& keyPath, const std::string& name, const std::string& value);
  // Tests and front ends point every helper at one store (not owned; null: the default).
  static void UseStore(SettingsStore* store);
  // Limits WriteSetting to these names (not owned; null, the default, allows every name). A
  // command-line run sets it, so that what its flags meant for one run is never stored and
  // its dialogs' side effects leave the user's settings alone.
  static void AllowWritesOnly(const std::vector<std::string>* names);
  // The file the settings are kept in, for messages that send the user there.
  static std::string SettingsFile();

  // "hh : mm : ss" of a millisecond count; hours take as many digits as they need.
  static std::string FormatTime(double ms);
  // " Data Dump: \r\n", then "XX " per byte and "\r\n" after every sixteenth.
  static std::string HexDump(const void* data, int32_t count);
  static void DwordToBytes(uint32_t value, uint8_t out[4]);
  static std::string NewGuidText();
};

}  // namespace qor
