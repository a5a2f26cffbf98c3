#pragma once
// Real files for the container tests: a private temporary folder, whole-file reads and writes,
// the generated sample media, and running ffprobe.

#include <cstdint>
#include <string>
#include <vector>

namespace qor::asf_test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Folder of the generated samples (clip.wmv, audio.wma, twovideo.asf).
std::string SampleMediaFolder();

// Runs a shell command and returns what it wrote on stdout; exitStatus gets its status.
std::string RunCommand(const std::string& command, int* exitStatus = nullptr);

}  // namespace qor::asf_test
