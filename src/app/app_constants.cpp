#include "app/app_constants.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace qor {

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder of the running program; empty when the system does not say.
std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  const std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> DocumentationFolders() {
  const char* chosen = std::getenv(kDocDirVariable);
  if (chosen != nullptr && *chosen != '\0') return {WithoutTrailingSlash(chosen)};
  std::vector<std::string> folders;
  const std::string program = ProgramFolder();
  if (!program.empty()) folders.push_back(program + "/../share/doc/qor");
  folders.push_back(WithoutTrailingSlash(QOR_INSTALLED_DOC_DIR));
#if defined(QOR_BUILD_TREE_DIR) && defined(QOR_SOURCE_TREE_DIR)
  const std::string build = QOR_BUILD_TREE_DIR;
  if (!program.empty() && program.rfind(build + "/", 0) == 0) {
    folders.push_back(std::string(QOR_SOURCE_TREE_DIR) + "/docs");
    folders.push_back(QOR_SOURCE_TREE_DIR);
  }
#endif
  return folders;
}

}  // namespace

std::string DocumentationFile(const std::string& name) {
  const std::vector<std::string> folders = DocumentationFolders();
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + name;
    if (::access(path.c_str(), R_OK) == 0) return path;
  }
  return folders.front() + "/" + name;
}

}  // namespace qor
