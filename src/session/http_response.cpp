#include "session/http_response.h"

namespace qor {

std::vector<std::string> SplitHeaderLines(const std::string& header) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find("\r\n", start);
    if (end == std::string::npos) end = header.size();
    if (end > start) lines.push_back(header.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

HttpBodyKind ClassifyContentType(const std::string& line) {
  static const char* const kChunked[] = {
      "content-type: application/x-mms-framed",
      "content-type: application/vnd.ms.wms-hdr.asfv1",
      "content-type: application/octet-stream",
  };
  static const char* const kPlain[] = {
      "content-type: text/plain",     "content-type: audio/x-ms-wax",
      "content-type: audio/x-ms-wma", "content-type: video/x-ms-asf",
      "content-type: video/x-ms-afs", "content-type: video/x-ms-wvx",
      "content-type: video/x-ms-wmv", "content-type: video/x-ms-wma",
  };
  for (const char* type : kChunked)
    if (line == type) return HttpBodyKind::Chunked;
  for (const char* type : kPlain)
    if (line == type) return HttpBodyKind::PlainFile;
  return HttpBodyKind::Unknown;
}

}  // namespace qor
