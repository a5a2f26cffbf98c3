#pragma once
// The product's names, versions and the places of its own documentation. The web-site and test-page
// actions open the documentation installed with the program; QOR_DOC_DIR points them elsewhere
// (a build tree, a test folder).

#include <cstdlib>
#include <string>

#include "support/helper.h"

// A build may set the installed folder; otherwise the default install prefix's.
#ifndef QOR_INSTALLED_DOC_DIR
#define QOR_INSTALLED_DOC_DIR "/usr/local/share/doc/qor"
#endif

namespace qor {

inline constexpr const char* kProductName = "Qor";
inline constexpr const char* kProgramVersion = kVersionText;
inline constexpr const char* kMmsProtocolVersion = "NSPlayer/7.1.0.1956";
inline constexpr const char* kHttpProtocolVersion = "HTTP/1.0";
inline constexpr const char* kReleaseDate = "20.10.06";
inline constexpr const char* kAuthorText = "The Qor developers";

inline constexpr const char* kDocDirVariable = "QOR_DOC_DIR";
inline constexpr const char* kWebSitePage = "index.html";
inline constexpr const char* kMediaTestPage = "media-test.html";
inline constexpr const char* kReadmeFile = "README.md";

// The documentation folder, without a trailing separator.
inline std::string DocumentationDir() {
  const char* dir = std::getenv(kDocDirVariable);
  std::string path = (dir != nullptr && *dir != '\0') ? dir : QOR_INSTALLED_DOC_DIR;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The product's web site: its own documentation page.
inline std::string WebSiteAddress() {
  return "file://" + DocumentationDir() + "/" + kWebSitePage;
}
inline std::string MediaTestSiteAddress() {
  return "file://" + DocumentationDir() + "/" + kMediaTestPage;
}
inline std::string ReadmePath() {
  return DocumentationDir() + "/" + kReadmeFile;
}

}  // namespace qor
