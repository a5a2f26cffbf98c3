// Child processes of a test that load a library the sanitizer build cannot instrument
// (nss_wrapper, Qt's pool threads, GLib's main loop) take the suppressions for that library
// alone (tests/sanitizer/README.md); the rest of the suite runs without any.
#pragma once

#include <string>

namespace qor::testing {

// "TSAN_OPTIONS=<the options this test runs with>:suppressions=tests/sanitizer/<file>", to put
// in a child's environment; file is one of that folder's, named by the library it covers.
std::string ForeignLibraryTsanOptions(const std::string& file);

}  // namespace qor::testing
