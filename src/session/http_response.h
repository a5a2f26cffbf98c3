#pragma once
// Reading an HTTP response header of the streaming dialect.

#include <string>
#include <vector>

namespace qor {

enum class HttpBodyKind {
  Chunked,    // the framed stream ($H, $D, $E, $C chunks)
  PlainFile,  // an ordinary media file, downloaded as it is
  Unknown,
};

// The header (up to and including its blank line) split at CR LF; the blank lines at its end are
// not kept.
std::vector<std::string> SplitHeaderLines(const std::string& header);
// Lower-cased "content-type:" line compared as a whole.
HttpBodyKind ClassifyContentType(const std::string& contentTypeLine);

}  // namespace qor
