#pragma once
// The product's names, versions and the places of its own documentation. The web-site and test-page
// actions open the documentation installed with the program; QOR_DOC_DIR points them elsewhere
// (a test folder).

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
inline constexpr const char* kCopyrightText = "2026 The Qor developers";
inline constexpr const char* kLicenceName = "MIT";
// The licence's full text, as the LICENSE file at the top of the sources holds it.
inline constexpr const char* kLicenceText =
    "MIT License\n"
    "\n"
    "Copyright (c) 2026 The Qor developers\n"
    "\n"
    "Permission is hereby granted, free of charge, to any person obtaining a copy of this "
    "software and associated documentation files (the \"Software\"), to deal in the Software "
    "without restriction, including without limitation the rights to use, copy, modify, merge, "
    "publish, distribute, sublicense, and/or sell copies of the Software, and to permit persons "
    "to whom the Software is furnished to do so, subject to the following conditions:\n"
    "\n"
    "The above copyright notice and this permission notice shall be included in all copies or "
    "substantial portions of the Software.\n"
    "\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, "
    "INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR "
    "PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE "
    "FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR "
    "OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER "
    "DEALINGS IN THE SOFTWARE.\n";

inline constexpr const char* kDocDirVariable = "QOR_DOC_DIR";
inline constexpr const char* kWebSitePage = "index.html";
inline constexpr const char* kMediaTestPage = "media-test.html";
inline constexpr const char* kReadmeFile = "README.md";

// Where one of the documentation files is: QOR_DOC_DIR when set; else beside the running program
// (<prefix>/share/doc/qor for <prefix>/bin/qor, wherever the prefix is), the folder the build
// installs to, and for a program run from its build tree the source tree's docs/ and top folder.
// A file found nowhere is named where the program expects it installed.
std::string DocumentationFile(const std::string& name);

// The product's web site: its own documentation page.
inline std::string WebSiteAddress() {
  return "file://" + DocumentationFile(kWebSitePage);
}
inline std::string MediaTestSiteAddress() {
  return "file://" + DocumentationFile(kMediaTestPage);
}
inline std::string ReadmePath() {
  return DocumentationFile(kReadmeFile);
}

}  // namespace qor
