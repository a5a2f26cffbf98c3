// The scan of play-list text on its own: which addresses are found, where they end, the list
// limit and the bound on one address. Nested play lists are fetched in the loader tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/location_scan.h"
#include "support/message_queue.h"

namespace qor {
namespace {

struct ScanResult {
  std::vector<std::string> entries;
  std::vector<std::pair<std::string, uint32_t>> posts;
  bool complete = true;
};

ScanResult ScanText(std::string_view text, const std::string& base = std::string()) {
  ScanResult result;
  ScanList list;
  ScanHooks hooks;
  hooks.Post = [&result](const std::string& t, uint32_t code) {
    result.posts.emplace_back(t, code);
  };
  LocationScanner scanner(list, hooks);
  result.complete = scanner.Scan(text, base);
  result.entries.assign(list.entries.begin(), list.entries.begin() + list.count);
  return result;
}

TEST(UrlTerminator, ExactlySevenBytesEndAnAddress) {
  const std::vector<int> expected{0, 9, 10, 13, 32, 34, 35};
  std::vector<int> found;
  for (int ch = 0; ch < 256; ++ch) {
    if (IsUrlTerminator(static_cast<uint8_t>(ch))) found.push_back(ch);
  }
  EXPECT_EQ(found, expected);
}

TEST(LocationScan, FindsEveryAddressOfAPlayListInTextOrder) {
  const std::string asx =
      "<ASX version=\"3.0\">\r\n"
      "<ENTRY><REF HREF=\"mms://media.example/live\"/></ENTRY>\r\n"
      "<ENTRY><REF HREF=\"http://media.example/a/clip.wmv\"/></ENTRY>\r\n"
      "<ENTRY><REF HREF=\"mmst://media.example/b.asf\"/></ENTRY>\r\n"
      "<ENTRY><REF HREF=\"mms://media.example/live\"/></ENTRY>\r\n"
      "</ASX>";
  const ScanResult r = ScanText(asx);
  EXPECT_EQ(r.entries,
            (std::vector<std::string>{"mms://media.example/live", "http://media.example/a/clip.wmv",
                                      "mmst://media.example/b.asf", "mms://media.example/live"}));
  EXPECT_TRUE(r.posts.empty());
}

TEST(LocationScan, OnlyAllLowerOrAllUpperSchemesAreFound) {
  const ScanResult mixed =
      ScanText("Http://h/a.wmv hTTP://h/b.wmv Mms://h/c mMS://h/d Https://h/e.wma MmsU://h/f\n");
  EXPECT_TRUE(mixed.entries.empty());
  const ScanResult upper =
      ScanText("HTTP://H/A.WMV MMS://H/LIVE MMST://H/B.ASF MMSU://H/C HTTPS://H/D.WMA\n");
  EXPECT_EQ(upper.entries,
            (std::vector<std::string>{"HTTP://H/A.WMV", "MMS://H/LIVE", "MMST://H/B.ASF",
                                      "MMSU://H/C", "HTTPS://H/D.WMA"}));
}

TEST(LocationScan, HashAndQuoteEndAnAddressButAngleBracketDoesNot) {
  const ScanResult r = ScanText(
      "http://h/a.wmv#frag\n\"http://h/b.wmv\"x\nhttp://h/c.wmv<br>\nhttp://h/d.wmv\tnext");
  EXPECT_EQ(r.entries, (std::vector<std::string>{"http://h/a.wmv", "http://h/b.wmv",
                                                 "http://h/c.wmv<br>", "http://h/d.wmv"}));
}

TEST(LocationScan, AnAddressAtTheVeryEndOrBeforeANulIsTaken) {
  const std::string text("mms://h/one\0mms://h/two", 23);
  EXPECT_EQ(ScanText(text).entries, (std::vector<std::string>{"mms://h/one", "mms://h/two"}));
  EXPECT_TRUE(ScanText("").entries.empty());
  EXPECT_TRUE(ScanText("mms:/").entries.empty());
}

TEST(LocationScan, ControlBytesAroundAnAddressAreTrimmed) {
  const ScanResult r = ScanText("mms://h/live\x01\x02 http://h/x.wma\x7f\n");
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[0], "mms://h/live");
  EXPECT_EQ(r.entries[1], "http://h/x.wma\x7f") << "DEL is above the blank and stays";
}

TEST(LocationScan, OtherKindsAreIgnoredAndPlayListsNeedAFetcher) {
  const ScanResult r = ScanText(
      "http://h/page.html http://h/list.asx http://h/x.ram mms://h/ok.wma http://h/s.php?id=1");
  EXPECT_EQ(r.entries, (std::vector<std::string>{"mms://h/ok.wma"}));
  EXPECT_TRUE(r.posts.empty());
}

TEST(LocationScan, SixtyEntriesKeepTheFirstFiftyAndSaySo) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "http://h/clip" + std::to_string(i) + ".wmv\n";
  const ScanResult r = ScanText(text);
  ASSERT_EQ(r.entries.size(), 50u);
  EXPECT_EQ(r.entries.front(), "http://h/clip0.wmv");
  EXPECT_EQ(r.entries.back(), "http://h/clip49.wmv");
  ASSERT_EQ(r.posts.size(), 1u) << "the scan ends at the first entry too many";
  EXPECT_EQ(r.posts[0].first, "Too many entires in URL list, displaying max only: 50");
  EXPECT_EQ(r.posts[0].second, mcWarning);
  EXPECT_FALSE(r.complete);
}

TEST(LocationScan, ExactlyFiftyEntriesFitWithoutAMessage) {
  std::string text;
  for (int i = 0; i < 50; ++i) text += "mms://h/s" + std::to_string(i) + "\n";
  const ScanResult r = ScanText(text);
  EXPECT_EQ(r.entries.size(), 50u);
  EXPECT_TRUE(r.posts.empty());
  EXPECT_TRUE(r.complete);
}

TEST(LocationScan, LongAddressesAreTakenUpToTheBoundAndSkippedBeyondIt) {
  const std::string mid = "http://h/" + std::string(600, 'a') + ".wmv";
  const std::string limit = "http://h/" + std::string(kMaxCandidateBytes - 13, 'b') + ".wmv";
  ASSERT_EQ(limit.size(), kMaxCandidateBytes);
  const std::string over = "http://h/" + std::string(kMaxCandidateBytes, 'c') + ".wmv";
  const ScanResult r = ScanText(mid + "\n" + over + "\n" + limit + "\nmms://h/after\n");
  EXPECT_EQ(r.entries, (std::vector<std::string>{mid, limit, "mms://h/after"}));
  ASSERT_EQ(r.posts.size(), 1u);
  EXPECT_EQ(r.posts[0].first, "HTTP Parse: a location is too long, bypassing");
  EXPECT_EQ(r.posts[0].second, mcWarning);
}

TEST(LocationScan, AddressStartAndEndSearchStayInsideTheText) {
  const std::string_view text = "xx mms";
  EXPECT_EQ(FindAddressStart(text, 0), std::string_view::npos);
  EXPECT_EQ(FindAddressStart("a mms://b", 0), 2u);
  EXPECT_EQ(FindAddressStart("a mms://b", 3), std::string_view::npos);
  EXPECT_EQ(FindAddressEnd("mms://b", 0), 7u);
  EXPECT_EQ(FindAddressEnd("mms://b c", 0), 7u);
}

// Play lists as web sites write them: XML with entities, single quotes, comments and relative
// references. The same entries come out of every form.
TEST(LocationScan, PlayListsReadAsXml) {
  const std::string asx =
      "<ASX version='3.0'>\r\n"
      "<!-- <ENTRY><REF HREF=\"mms://h/old\"/></ENTRY> -->\r\n"
      "<ENTRY><REF HREF='http://h/a.asf?id=1&amp;key=x&#38;y' /></ENTRY>\r\n"
      "<Entry><Ref href = \"../media/b%20c.wmv\"/></Entry>\r\n"
      "<ENTRY><REF HREF=/root.wma /></ENTRY>\r\n"
      "<ENTRY><REF HREF=\"Http://h/mixed.wmv\"/><MOREINFO HREF=\"about\"/></ENTRY>\r\n"
      "<!-- open comment to the end: mms://h/never";
  const std::vector<std::string> expected{
      "http://h/a.asf?id=1&key=x&y", "http://site:81/media/b%20c.wmv", "http://site:81/root.wma"};
  EXPECT_EQ(ScanText(asx, "http://site:81/lists/l.asx?id=3").entries, expected);
  // A local play list has no location of its own: relative references are passed over.
  EXPECT_EQ(ScanText(asx).entries, (std::vector<std::string>{"http://h/a.asf?id=1&key=x&y"}));

  auto utf16 = [&asx](bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : asx) {
      out += big ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
  };
  for (const std::string& encoded : {"\xEF\xBB\xBF" + asx, utf16(false), utf16(true)}) {
    EXPECT_EQ(ScanText(encoded, "http://site:81/lists/l.asx?id=3").entries, expected);
  }
  // A reference that is no character stays; one that decodes to a terminator ends the address
  // there, and a blank in a quoted relative reference is sent as %20.
  EXPECT_EQ(ScanText("mms://h/a&bogus;&#0;x --> mms://h/b&#35;c mms://h/d&#32;e").entries,
            (std::vector<std::string>{"mms://h/a&bogus;&#0;x", "mms://h/b", "mms://h/d"}));
  EXPECT_EQ(ScanText("<ref href=\"my clip.wmv\"><ref href=\"a&#10;b.wmv\">", "http://h/").entries,
            (std::vector<std::string>{"http://h/my%20clip.wmv", "http://h/a&#10;b.wmv"}));
  // A BASE element names where the references after it are relative to, and is no entry.
  EXPECT_EQ(ScanText("<ref href=a.wmv><BASE HREF=\"http://cdn/media/\"/><ref href=b.wmv>",
                     "http://h/l.asx")
                .entries,
            (std::vector<std::string>{"http://h/a.wmv", "http://cdn/media/b.wmv"}));
  // A quote left open ends at the next tag, which is read for itself.
  EXPECT_EQ(ScanText("<ref href=\"a.wmv <ref title='x' href='b.wmv'>", "http://h/").entries,
            (std::vector<std::string>{"http://h/b.wmv"}));
}

TEST(LocationScan, ReferencesResolveAgainstTheListLocation) {
  EXPECT_EQ(ResolveReference("http://h/a/b/list.asx", "c.wmv"), "http://h/a/b/c.wmv");
  EXPECT_EQ(ResolveReference("http://h/a/b/list.asx", "./../../../c.wmv"), "http://h/c.wmv");
  EXPECT_EQ(ResolveReference("http://h:8/a/list.asx?x=/y", "/c/d.wmv?q=1"),
            "http://h:8/c/d.wmv?q=1");
  EXPECT_EQ(ResolveReference("http://h/a/list.asp?id=3", "?id=4"), "http://h/a/list.asp?id=4");
  EXPECT_EQ(ResolveReference("https://h/a/list.asx", "//cdn/x.wmv"), "https://cdn/x.wmv");
  EXPECT_EQ(ResolveReference("http://h", "live"), "http://h/live");
  EXPECT_EQ(ResolveReference("http://h/a/", "sub/"), "http://h/a/sub/");
  EXPECT_EQ(ResolveReference("mms://h/x", "mmst://g/y"), "mmst://g/y");
  EXPECT_EQ(ResolveReference("/local/list.asx", "c.wmv"), "");
  EXPECT_EQ(ResolveReference("http:///x", "c.wmv"), "");
}

}  // namespace
}  // namespace qor
