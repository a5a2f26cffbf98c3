// Arbitrary bytes as the head of an HTTP response: split into lines the way the location client
// reads them, collected under the head's bounds, and any redirect target parsed as a location.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_response.h"
#include "http/request_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  qor::ResponseHead head;
  size_t pos = 0;
  while (pos < input.size()) {
    size_t feed = input.find('\n', pos);
    size_t end = feed == std::string_view::npos ? input.size() : feed + 1;
    qor::HeadStep step = qor::AddHeadLine(head, input.substr(pos, end - pos));
    pos = end;
    if (step != qor::HeadStep::More) break;
  }
  if (head.text.size() > qor::kMaxHeaderBytes || head.lines > qor::kMaxHeaderLines)
    __builtin_trap();
  if (head.location.size() > qor::kMaxValueLength || head.cookie.size() > qor::kMaxValueLength) {
    __builtin_trap();
  }
  (void)qor::StatusCodeOf(input);

  qor::RequestUrl url;
  std::string target = head.hasLocation ? head.location : std::string(input.substr(0, 9000));
  if (qor::ParseRequestUrl(target, "previous.example", 8080, url).empty()) {
    if (url.path.empty() || url.path.size() > qor::kMaxValueLength + 1) __builtin_trap();
    if (url.port < 1 || url.port > 65535) __builtin_trap();
  }
  return 0;
}
