// The three requests and the response classification, byte for byte.

#include <gtest/gtest.h>

#include "asf/asf.h"
#include "session/http_requests.h"
#include "session/http_response.h"

namespace qor {
namespace {

const char* kGuid = "{01234567-89AB-CDEF-0123-456789ABCDEF}";

TASF Streams(std::initializer_list<uint8_t> numbers) {
  TASF asf;
  for (uint8_t n : numbers) asf.StreamNumbers[asf.StreamCount++] = n;
  return asf;
}

TEST(HttpRequests, DescribeRequestLineForLine) {
  const HttpRequestTarget target{"media.example", "path/clip.wmv", kGuid, false};
  EXPECT_EQ(BuildDescribeRequest(target),
            "GET /path/clip.wmv HTTP/1.0\r\n"
            "Accept: */*\r\n"
            "User-Agent: NSPlayer/7.1.0.1956\r\n"
            "Host: media.example\r\n"
            "Pragma: no-cache\r\n"
            "Pragma: rate=1.000000\r\n"
            "Pragma: stream-time=0\r\n"
            "Pragma: stream-offset=0:0\r\n"
            "Pragma: request-context=1\r\n"
            "Pragma: max-duration=0\r\n"
            "Pragma: xClientGUID={01234567-89AB-CDEF-0123-456789ABCDEF}\r\n"
            "\r\n");
}

TEST(HttpRequests, ThroughAProxyTheRequestLineIsAbsolute) {
  const HttpRequestTarget target{"media.example", "clip.wmv", kGuid, true};
  EXPECT_EQ(BuildDescribeRequest(target).rfind("GET http://media.example/clip.wmv HTTP/1.0\r\n", 0),
            0u);
}

TEST(HttpRequests, PrerecordedPlayRequestCarriesTimeContextAndStreamsInHex) {
  const HttpRequestTarget target{"h", "c.wmv", kGuid, false};
  EXPECT_EQ(BuildPrerecordedPlayRequest(target, 90000, 4, Streams({1, 2, 10})),
            "GET /c.wmv HTTP/1.0\r\n"
            "Accept: */*\r\n"
            "User-Agent: NSPlayer/7.1.0.1956\r\n"
            "Host: h\r\n"
            "Pragma: no-cache\r\n"
            "Pragma: rate=1.000000\r\n"
            "Pragma: stream-time=90000\r\n"
            "Pragma: stream-offset=0:0\r\n"
            "Pragma: request-context=4\r\n"
            "Pragma: max-duration=0\r\n"
            "Pragma: xPlayStrm=1\r\n"
            "Pragma: xClientGUID={01234567-89AB-CDEF-0123-456789ABCDEF}\r\n"
            "Pragma: stream-switch-count=3\r\n"
            "Pragma: stream-switch-entry=ffff:1:0 ffff:2:0 ffff:a:0 \r\n"
            "\r\n");
}

TEST(HttpRequests, LivePlayRequestLineForLine) {
  const HttpRequestTarget target{"h", "radio", kGuid, false};
  EXPECT_EQ(BuildLivePlayRequest(target, Streams({1, 2})),
            "GET /radio HTTP/1.0\r\n"
            "Accept: */*\r\n"
            "User-Agent: NSPlayer/7.1.0.1956\r\n"
            "Host: h\r\n"
            "Pragma: no-cache\r\n"
            "Pragma: rate=1.000000\r\n"
            "Pragma: request-context=2\r\n"
            "Pragma: xPlayStrm=1\r\n"
            "Pragma: xClientGUID={01234567-89AB-CDEF-0123-456789ABCDEF}\r\n"
            "Pragma: stream-switch-count=2\r\n"
            "Pragma: stream-switch-entry=ffff:1:0 ffff:2:0 \r\n"
            "\r\n");
}

TEST(HttpRequests, StreamEntriesUseLowerCaseHexAboveNine) {
  EXPECT_EQ(StreamSwitchEntries(Streams({9, 10, 15, 16, 127})),
            "ffff:9:0 ffff:a:0 ffff:f:0 ffff:10:0 ffff:7f:0 ");
  EXPECT_EQ(StreamSwitchEntries(Streams({})), "");
  // Left out: in the list, switched off.
  EXPECT_EQ(StreamSwitchEntries(Streams({1, 2, 10}), {10, 1}), "ffff:1:2 ffff:2:0 ffff:a:2 ");
}

TEST(HttpResponse, ContentTypesAreComparedAsWholeLowerCaseLines) {
  EXPECT_EQ(ClassifyContentType("content-type: application/x-mms-framed"), HttpBodyKind::Chunked);
  EXPECT_EQ(ClassifyContentType("content-type: application/vnd.ms.wms-hdr.asfv1"),
            HttpBodyKind::Chunked);
  EXPECT_EQ(ClassifyContentType("content-type: application/octet-stream"), HttpBodyKind::Chunked);
  EXPECT_EQ(ClassifyContentType("content-type: video/x-ms-asf"), HttpBodyKind::PlainFile);
  EXPECT_EQ(ClassifyContentType("content-type: video/x-ms-wmv"), HttpBodyKind::PlainFile);
  EXPECT_EQ(ClassifyContentType("content-type: application/x-mms-framed; charset=x"),
            HttpBodyKind::Unknown);
  EXPECT_EQ(ClassifyContentType("content-type: text/html"), HttpBodyKind::Unknown);
  EXPECT_EQ(ClassifyContentType(""), HttpBodyKind::Unknown);
}

TEST(HttpResponse, HeaderIsSplitIntoItsLines) {
  EXPECT_EQ(SplitHeaderLines("HTTP/1.0 200 OK\r\nServer: x\r\n\r\n"),
            (std::vector<std::string>{"HTTP/1.0 200 OK", "Server: x"}));
  EXPECT_TRUE(SplitHeaderLines("\r\n\r\n").empty());
}

}  // namespace
}  // namespace qor
