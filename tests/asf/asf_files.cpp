#include "asf_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qor::asf_test {

namespace {

// The file times the media information shows are formatted in the user's LC_TIME; the expected
// texts are the C locale's.
class CLocale : public ::testing::Environment {
 public:
  void SetUp() override { setenv("LC_ALL", "C", 1); }
};
[[maybe_unused]] ::testing::Environment* const kCLocale =
    ::testing::AddGlobalTestEnvironment(new CLocale);

}  // namespace

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qor-asf-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string SampleMediaFolder() {
  if (const char* env = std::getenv("QOR_SAMPLE_MEDIA")) return env;
  return QOR_SAMPLE_MEDIA_DIR;
}

std::string RunCommand(const std::string& command, int* exitStatus) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("popen failed");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  if (exitStatus != nullptr) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

}  // namespace qor::asf_test
