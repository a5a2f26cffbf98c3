// The pure parts of the location client: locations, status lines, header values and the bounds on
// a response head.

#include <gtest/gtest.h>

#include <string>

#include "http/header_lines.h"
#include "http/http_response.h"
#include "http/request_url.h"

namespace qor {
namespace {

RequestUrl Parse(const std::string& location, const std::string& host = "old.host",
                 int32_t port = 8080) {
  RequestUrl out;
  std::string error = ParseRequestUrl(location, host, port, out);
  EXPECT_EQ(error, "") << location;
  return out;
}

TEST(RequestUrlTest, CompleteLocations) {
  RequestUrl u = Parse("http://media.example.com/dir/list.asx?x=1");
  EXPECT_EQ(u.host, "media.example.com");
  EXPECT_EQ(u.path, "/dir/list.asx?x=1");
  EXPECT_EQ(u.port, 80);
  EXPECT_EQ(u.url, "http://media.example.com/dir/list.asx?x=1");

  u = Parse("HTTP://Host.Example:8081/a");
  EXPECT_EQ(u.host, "Host.Example");
  EXPECT_EQ(u.port, 8081);
  EXPECT_EQ(u.path, "/a");

  // Scheme ports, then an explicit port wins.
  EXPECT_EQ(Parse("gopher://g.example/x").port, 70);
  EXPECT_EQ(Parse("ftp://f.example/x").port, 21);
  EXPECT_EQ(Parse("ftp://f.example:2121/x").port, 2121);
  // A port that is not a port is ignored.
  EXPECT_EQ(Parse("http://h.example:99999/x").port, 80);
  EXPECT_EQ(Parse("http://h.example:8o/x").port, 80);
  u = Parse("http://ann:pw@[::1]:8081/a");
  EXPECT_EQ(u.host + " " + std::to_string(u.port) + " " + u.user + ":" + u.password,
            "[::1] 8081 ann:pw");
  EXPECT_EQ(u.url, "http://[::1]:8081/a");
}

TEST(RequestUrlTest, PathlessLocationsAskForTheRoot) {
  RequestUrl u = Parse("http://media.example.com");
  EXPECT_EQ(u.path, "/");
  EXPECT_EQ(u.url, "http://media.example.com/");
  u = Parse("http://media.example.com?q=1");
  EXPECT_EQ(u.host, "media.example.com");
  EXPECT_EQ(u.path, "/?q=1");
}

TEST(RequestUrlTest, RelativeLocationsKeepTheServer) {
  RequestUrl u = Parse("/next/list.asx", "origin.example", 8080);
  EXPECT_EQ(u.host, "origin.example");
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(u.path, "/next/list.asx");
  EXPECT_EQ(u.url, "http://origin.example:8080/next/list.asx");

  // A colon or a "//" inside the path or the query is neither a scheme nor a host.
  u = Parse("/cgi?go=http://elsewhere/x&t=1:2", "origin.example", 8080);
  EXPECT_EQ(u.host, "origin.example");
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(u.path, "/cgi?go=http://elsewhere/x&t=1:2");

  // Without a scheme the first field is the host; the port carries over.
  u = Parse("other.example/a", "origin.example", 8080);
  EXPECT_EQ(u.host, "other.example");
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(Parse("other.example/a", "", 0).port, 80);
}

TEST(RequestUrlTest, Refusals) {
  RequestUrl out;
  EXPECT_EQ(ParseRequestUrl("", "h", 80, out), "Empty URL");
  EXPECT_EQ(ParseRequestUrl("https://secure.example/x", "h", 80, out),
            "HTTP Secure Socket is not supported");
  EXPECT_EQ(ParseRequestUrl("HTTPS://secure.example/x", "h", 80, out),
            "HTTP Secure Socket is not supported");
}

TEST(RequestUrlTest, LongPathsAreCutAtTheBound) {
  std::string path = "/" + std::string(20000, 'p');
  RequestUrl u = Parse("http://h.example" + path);
  EXPECT_EQ(u.path.size(), kMaxValueLength);
  // Longer than the old 256-character cut.
  EXPECT_EQ(Parse("http://h.example/" + std::string(1000, 'q')).path.size(), 1001u);
}

TEST(StatusLineTest, SecondFieldAsDecimal) {
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 200 OK\r\n"), 200);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 404\r\n"), 404);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 302\n"), 302);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0  301 Moved\r\n"), 301);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 2x0 OK\r\n"), 0);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 -5 OK\r\n"), 0);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 99999 OK\r\n"), 0);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0\r\n"), 0);
  EXPECT_EQ(StatusCodeOf("<html><body>"), 0);
  EXPECT_EQ(StatusCodeOf(""), 0);
}

TEST(ResponseHeadTest, CollectsLinesCookieLocationAndLength) {
  ResponseHead head;
  EXPECT_EQ(AddHeadLine(head, "HTTP/1.0 302 Found\r\n"), HeadStep::More);
  EXPECT_EQ(AddHeadLine(head, "set-cookie: id=42; path=/\r\n"), HeadStep::More);
  EXPECT_EQ(AddHeadLine(head, "Location:http://next.example/x\r\n"), HeadStep::More);
  EXPECT_EQ(AddHeadLine(head, "Content-Length: 12\r\n"), HeadStep::More);
  EXPECT_EQ(AddHeadLine(head, "Content-Length: 99\r\n"), HeadStep::More);
  EXPECT_EQ(AddHeadLine(head, "\r\n"), HeadStep::Complete);
  EXPECT_TRUE(head.complete);
  EXPECT_EQ(head.status, 302);
  EXPECT_EQ(head.cookie, "id=42; path=/");
  EXPECT_EQ(head.location, "http://next.example/x");
  EXPECT_EQ(head.contentLength, 12);
  EXPECT_EQ(head.lines, 6);
  EXPECT_EQ(head.text,
            "HTTP/1.0 302 Found\r\nset-cookie: id=42; path=/\r\nLocation:http://next.example/x\r\n"
            "Content-Length: 12\r\nContent-Length: 99\r\n\r\n");

  ResponseHead bare;
  AddHeadLine(bare, "HTTP/1.0 200 OK\n");
  AddHeadLine(bare, "Content-Length: 1e3\n");
  EXPECT_EQ(AddHeadLine(bare, "\n"), HeadStep::Complete);
  EXPECT_EQ(bare.contentLength, -1);
}

TEST(ResponseHeadTest, LongValuesAreCutNotDropped) {
  ResponseHead head;
  AddHeadLine(head, "HTTP/1.0 301 Moved\r\n");
  std::string target = "http://h.example/" + std::string(10000, 'x');
  AddHeadLine(head, "Location: " + target + "\r\n");
  EXPECT_EQ(head.location, target.substr(0, kMaxValueLength));
  std::string cookie(300, 'c');
  AddHeadLine(head, "Set-Cookie: " + cookie + "\r\n");
  EXPECT_EQ(head.cookie, cookie);  // past the old 256
}

TEST(ResponseHeadTest, BoundsOnLinesAndBytes) {
  ResponseHead head;
  AddHeadLine(head, "HTTP/1.0 200 OK\r\n");
  for (int i = 1; i < kMaxHeaderLines - 1; ++i) {
    ASSERT_EQ(AddHeadLine(head, "X-Filler: 1\r\n"), HeadStep::More);
  }
  EXPECT_EQ(AddHeadLine(head, "\r\n"), HeadStep::Complete);  // line 200 closes it

  ResponseHead tooMany;
  AddHeadLine(tooMany, "HTTP/1.0 200 OK\r\n");
  for (int i = 1; i < kMaxHeaderLines; ++i) AddHeadLine(tooMany, "X-Filler: 1\r\n");
  EXPECT_EQ(AddHeadLine(tooMany, "\r\n"), HeadStep::TooLarge);

  ResponseHead tooBig;
  AddHeadLine(tooBig, "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(AddHeadLine(tooBig, "X-Big: " + std::string(kMaxHeaderBytes, 'b') + "\r\n"),
            HeadStep::TooLarge);
  EXPECT_EQ(tooBig.text, "HTTP/1.0 200 OK\r\n");
}

TEST(HeaderLinesTest, FindReplaceDeleteByName) {
  THeaderLines lines;
  lines.Add("GET / HTTP/1.0");
  lines.AddValue("Host", "a.example");
  lines.AddValue("Accept", "one");
  lines.AddValue("Accept", "two");
  EXPECT_EQ(lines.Find("host"), 1);
  EXPECT_EQ(lines.Find("Hos"), -1);
  EXPECT_EQ(lines.Value("ACCEPT"), "one");
  lines.SetValue("Host", "b.example");
  EXPECT_EQ(lines[1], "Host: b.example");
  lines.SetValue("Cookie", "c=1");
  EXPECT_EQ(lines[4], "Cookie: c=1");
  EXPECT_EQ(lines.Delete("accept"), 2);
  EXPECT_EQ(lines.Text(), "GET / HTTP/1.0\r\nHost: b.example\r\nCookie: c=1\r\n\r\n");
}

}  // namespace
}  // namespace qor
