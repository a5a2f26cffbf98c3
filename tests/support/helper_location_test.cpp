#include <gtest/gtest.h>

#include "support/helper.h"

namespace qor {
namespace {

TEST(HostOf, TakesTheTextBetweenTheSecondAndThirdSlash) {
  EXPECT_EQ(THelper::HostOf("mms://server/live"), "server");
  EXPECT_EQ(THelper::HostOf("mms://server:1755/x"), "server:1755");
  EXPECT_EQ(THelper::HostOf("  http://h/a/b.asf \r\n"), "h");
  EXPECT_EQ(THelper::HostOf("http://h/a/b/c"), "h");
}

TEST(HostOf, NeedsAThirdSlashBeforeTheLastCharacter) {
  EXPECT_EQ(THelper::HostOf("mms://server"), "");
  EXPECT_EQ(THelper::HostOf("mms://server/"), "");
  EXPECT_EQ(THelper::HostOf("mms://server/ "), "");  // trimmed first
  EXPECT_EQ(THelper::HostOf("mms://server/x"), "server");
  // The first character is never taken as a slash.
  EXPECT_EQ(THelper::HostOf("//a/b/c"), "b");
  EXPECT_EQ(THelper::HostOf(""), "");
  EXPECT_EQ(THelper::HostOf("/"), "");
  EXPECT_EQ(THelper::HostOf("x///y"), "");
}

TEST(PathOf, TakesTheTextAfterTheThirdSlash) {
  EXPECT_EQ(THelper::PathOf("http://h/a/b.asf"), "a/b.asf");
  EXPECT_EQ(THelper::PathOf("http://h"), "");
  EXPECT_EQ(THelper::PathOf("http://h/"), "");
  EXPECT_EQ(THelper::PathOf(" mms://h/ab\t"), "ab");
  // A slash in the last position is not looked at; one before a last character is.
  EXPECT_EQ(THelper::PathOf("http://h/x"), "x");
  EXPECT_EQ(THelper::PathOf("http://h//"), "/");
  EXPECT_EQ(THelper::PathOf("http://h/x/"), "x/");
  EXPECT_EQ(THelper::PathOf("http://h//ab"), "/ab");
  EXPECT_EQ(THelper::PathOf(""), "");
}

TEST(FileNameOf, TakesTheTextAfterTheLastSeparator) {
  EXPECT_EQ(THelper::FileNameOf("http://h/dir/clip.asf"), "clip.asf");
  EXPECT_EQ(THelper::FileNameOf("C:\\clips\\a.asf"), "a.asf");
  EXPECT_EQ(THelper::FileNameOf("c:a.asf"), "a.asf");
  EXPECT_EQ(THelper::FileNameOf("plain"), "plain");
  // The first character is never examined.
  EXPECT_EQ(THelper::FileNameOf("/abc"), "/abc");
  EXPECT_EQ(THelper::FileNameOf(""), "");
}

// An automatic save name is built from this: "dir/" would point into a folder that is not there.
TEST(FileNameOf, AFolderIsNamedByItsLastElement) {
  EXPECT_EQ(THelper::FileNameOf("http://host/dir/"), "dir");
  EXPECT_EQ(THelper::FileNameOf("mms://host//"), "host");
  EXPECT_EQ(THelper::FileNameOf("C:\\clips\\"), "clips");
  EXPECT_EQ(THelper::FileNameOf("a/b/"), "b");
  EXPECT_EQ(THelper::FileNameOf("ab/"), "ab");
  EXPECT_EQ(THelper::FileNameOf("a/"), "a");
  EXPECT_EQ(THelper::FileNameOf("/"), "");
}

TEST(StripExtensionAndQuery, CutAtTheLastMarkInsideTheText) {
  EXPECT_EQ(THelper::StripExtension("clip.wmv.asx"), "clip.wmv");
  EXPECT_EQ(THelper::StripExtension("noext"), "noext");
  EXPECT_EQ(THelper::StripExtension(".hidden"), ".hidden");
  EXPECT_EQ(THelper::StripExtension("name."), "name.");
  EXPECT_EQ(THelper::StripExtension("a.b"), "a");
  EXPECT_EQ(THelper::StripExtension(""), "");
  EXPECT_EQ(THelper::StripQuery("play.asp?id=3"), "play.asp");
  EXPECT_EQ(THelper::StripQuery("a?b?c"), "a?b");
  EXPECT_EQ(THelper::StripQuery("?x"), "?x");
  EXPECT_EQ(THelper::StripQuery("x?"), "x?");
  EXPECT_EQ(THelper::StripQuery("?"), "?");
}

TEST(ClassifyLocation, SchemeAndExtensionBits) {
  EXPECT_EQ(THelper::ClassifyLocation(""), 0u);
  EXPECT_EQ(THelper::ClassifyLocation("C:\\clips\\a.ASF"), 0x41u);
  EXPECT_EQ(THelper::ClassifyLocation("http://h/play.asp?id=3"), 0x1006u);
  EXPECT_EQ(THelper::ClassifyLocation("mms://h/live"), 0x2Au);
  EXPECT_EQ(THelper::ClassifyLocation("HTTPS://h/list.ASX"), 0x86u);
  EXPECT_EQ(THelper::ClassifyLocation("mmst://h/a.wma"), 0x4Au);
  EXPECT_EQ(THelper::ClassifyLocation("mmsu://h/a.wmd"), 0x10Au);
  EXPECT_EQ(THelper::ClassifyLocation("pnm://h/a.ram"), 0x412u);
  EXPECT_EQ(THelper::ClassifyLocation("notes.txt"), 0x200u);
  EXPECT_EQ(THelper::ClassifyLocation("skin.wmz"), 0x800u);
  EXPECT_EQ(THelper::ClassifyLocation("page.html"), 0u);
}

TEST(ClassifyLocation, ContainsTestsInTheirOrder) {
  EXPECT_EQ(THelper::ClassifyLocation("clip.wmv.asx"), 0x80u);
  EXPECT_EQ(THelper::ClassifyLocation("x.rmvb"), 0x400u);
  EXPECT_EQ(THelper::ClassifyLocation("x.wm"), 0x40u);
  // The local-file test comes before any scheme, wherever it appears.
  EXPECT_EQ(THelper::ClassifyLocation("http://h/c:\\x"), 0x21u);
  // The query is dropped before the extension is looked at.
  EXPECT_EQ(THelper::ClassifyLocation("http://h/get?f=a.asf"), 0x26u);
  EXPECT_EQ(THelper::ClassifyLocation("http://h/a.asf?f=b.asx"), 0x46u);
  // A query holding a path does not hide a play list's name.
  EXPECT_EQ(THelper::ClassifyLocation("http://h/list.asx?src=/a/b"), 0x86u);
  EXPECT_EQ(THelper::ClassifyLocation("/tmp/odd?/x.asx"), 0x80u);
  // Only the file name counts: a dotted host with a bare path has no extension.
  EXPECT_EQ(THelper::ClassifyLocation("mms://media.example.org/live"), 0x2Au);
}

}  // namespace
}  // namespace qor
