// qor-cli against what web sites and ordinary servers publish: a broadcast at the root of a host,
// a .wmv from a plain web server, play lists written as the XML they are, and long play lists.
// The real qor-server serves each; ffprobe judges what was saved.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

class CliWebInput : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.Path("root");
    std::filesystem::create_directories(root_ + "/lists");
    for (const char* clip : {"clip.wmv", "audio.wma"}) {
      std::filesystem::copy_file(SampleMedia(clip), root_ + "/" + clip);
    }
  }
  void Serve(std::vector<std::string> args) {
    args.insert(args.end(), {"--root", root_});
    server_ = std::make_unique<ServerProcess>(QOR_SERVER_PROGRAM, args);
    ASSERT_TRUE(server_->Running());
  }
  std::string Site() const { return "http://127.0.0.1:" + std::to_string(server_->HttpPort()); }
  std::string Http(const std::string& name) const { return Site() + "/" + name; }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(root_ + "/" + name, std::ios::binary) << content;
  }
  CliResult Run(std::vector<std::string> args, std::function<bool()> interruptWhen = nullptr) {
    CliRun run;
    run.args = std::move(args);
    run.workDir = folder_.Path();
    run.interruptWhen = std::move(interruptWhen);
    return RunCli(run);
  }
  std::string Path(const std::string& name) const { return folder_.Path(name); }

  TempFolder folder_;
  std::string root_;
  std::unique_ptr<ServerProcess> server_;
};

// Encoders publish their broadcast as http://host:port/ (or without the slash); an MMS server
// still needs a name.
TEST_F(CliWebInput, BroadcastAtTheRootOfAHostIsRecorded) {
  Serve({"--live", "/=" + root_ + "/clip.wmv"});
  for (const std::string& url : {Site() + "/", Site()}) {
    SCOPED_TRACE(url);
    const std::string file = Path("root.asf");
    // Joined late in the round, the broadcast moves on to its next track, into a file of its own.
    const std::string next = Path("_1_" + std::to_string(server_->HttpPort()) + "_live.asf");
    std::filesystem::remove(file);
    std::filesystem::remove(next);
    const CliResult r = Run({"get", url, "-o", "root.asf"}, [&] {
      return FileSize(file) > 8 * 3200 || std::filesystem::exists(next);
    });
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("> - Receiving HTTP protocol streams -\n"), std::string::npos) << r.err;
    EXPECT_GT(ProbeDuration(file), 0.0);
  }
  // Opened, a dotted host's root is a stream address too, not a file named after the host.
  const CliResult open = Run({"open", "http://radio.example.com:8080/"});
  EXPECT_EQ(open.status, 0) << open.err;
  EXPECT_EQ(open.out, "http://radio.example.com:8080/\n");

  const CliResult mms =
      Run({"get", "mmst://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/", "-o", "mms.asf"});
  EXPECT_EQ(mms.status, 1);
  EXPECT_NE(mms.err.find("> Please check URL entry, invalid IP/Host\n"), std::string::npos)
      << mms.err;
}

// A play list as web sites write it, fetched through a location with a query: UTF-16 with a
// byte-order mark, single quotes, an entity the server must get decoded, a commented-out entry,
// relative references, and a nested list in UTF-8 with its own relative reference.
TEST_F(CliWebInput, PlayListFormsGiveTheirEntriesAndDownload) {
  Serve({"--rate", "0", "--mms-port", "-1"});
  const std::string main =
      "<ASX version='3.0'>\r\n"
      "<!-- <ENTRY><REF HREF=\"" +
      Http("clip.wmv") +
      "\"/></ENTRY> -->\r\n"
      "<ENTRY><REF HREF='" +
      Http("audio.wma") +
      "?seed=1&amp;strip=1' /></ENTRY>\r\n"
      "<Entry><Ref href=\"../clip.wmv\"/></Entry>\r\n"
      "<ENTRY><REF HREF=\"/audio.wma\"/></ENTRY>\r\n"
      "<ENTRYREF HREF=\"more.asx\"/>\r\n"
      "</ASX>\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : main) utf16 += std::string{c, '\0'};
  Write("lists/main.asx", utf16);
  Write("lists/more.asx", "\xEF\xBB\xBF<ASX><ENTRY><REF HREF=\"deeper/gone.wmv\"/></ENTRY></ASX>");
  const std::string list = Http("lists/main.asx?seed=3");
  const std::vector<std::string> entries{Http("audio.wma") + "?seed=1&strip=1", Http("clip.wmv"),
                                         Http("audio.wma"), Http("lists/deeper/gone.wmv")};

  CliResult r = Run({"open", list});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string lines;
  for (const std::string& e : entries) lines += e + "\n";
  EXPECT_EQ(r.out, lines);

  const std::string out = Path("out");
  std::filesystem::create_directories(out);
  r = Run({"batch", list, "-d", out});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "completed\t" + entries[0] + "\t" + out + "/_1_audio.wma\n" + "completed\t" +
                       entries[1] + "\t" + out + "/_1_clip.wmv\n" + "completed\t" + entries[2] +
                       "\t" + out + "/_2_audio.wma\n" + "failed\t" + entries[3] + "\n" +
                       "batch: 4 entries, 3 completed, 1 failed\n");
  EXPECT_GT(ProbeDuration(out + "/_1_audio.wma"), 1.0);

  // get would save the XML under a media name: it points to open and batch instead.
  r = Run({"get", list, "-o", "list.asf"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is a play list"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'qor-cli batch " + list + "'"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("list.asf")));
}

// An ordinary web server sends a .wmv as application/octet-stream, with or without parameters,
// as Windows Media servers send their chunked streams: the body's first bytes tell them apart.
TEST_F(CliWebInput, PlainWebServerFilesAreSavedByteForByte) {
  const std::string clip = ReadFile(root_ + "/clip.wmv");
  Write("notes.wmv", "<html>not media</html>");
  Write("playlist",
        "\xEF\xBB\xBF\r\n<asx version=\"3.0\"><entry><ref href=\"clip.wmv\"/></entry></asx>");
  for (const std::string type :
       {"application/octet-stream", "application/octet-stream; charset=binary",
        "video/x-ms-wmv; charset=binary"}) {
    SCOPED_TRACE(type);
    Serve({"--plain-http", type, "--mms-port", "-1"});
    const std::string file = Path("plain.wmv");
    const CliResult r = Run({"get", Http("clip.wmv"), "-o", "plain.wmv", "--overwrite"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("> HTTP: Media is simple progressive http downloading...\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(ReadFile(file) == clip) << FileSize(file) << " bytes saved";

    // A play list behind a name that does not say so is not saved as media either.
    const CliResult list = Run({"get", Http("playlist"), "-o", "list.asf"});
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.err.find("> HTTP: this location is a play list, not media: open it to download "
                            "its entries\n"),
              std::string::npos)
        << list.err;
    EXPECT_LE(FileSize(Path("list.asf")), 0);

    // A media type decides by itself; only a type that does not is judged by the body.
    if (type.starts_with("video/")) continue;
    const CliResult bad = Run({"get", Http("notes.wmv"), "-o", "notes.asf"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("> HTTP: Unknnown content type: content-type: "), std::string::npos)
        << bad.err;
    EXPECT_LE(FileSize(Path("notes.asf")), 0) << "nothing of a page reaches the file";
  }
}

// A Windows Media server that types its stream application/octet-stream still streams.
TEST_F(CliWebInput, StreamTypedOctetStreamIsStillAStream) {
  Serve({"--rate", "0", "--mms-port", "-1"});
  const CliResult r = Run({"get", Http("clip.wmv?octet-types=1"), "-o", "octet.asf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> - Receiving HTTP protocol streams -\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("progressive"), std::string::npos) << r.err;
  EXPECT_NEAR(ProbeDuration(Path("octet.asf")), ProbeDuration(root_ + "/clip.wmv"), 0.5);
}

// Moved media is followed, across hosts and to a plain web server, as play lists are.
TEST_F(CliWebInput, RedirectionsAreFollowed) {
  Serve({"--plain-http", "application/octet-stream", "--mms-port", "-1", "--redirect",
         "here.wmv=clip.wmv"});
  const std::string plainSite = Site();
  auto plain = std::move(server_);
  Serve({"--rate", "0", "--mms-port", "-1", "--moved", "away.wmv=" + plainSite + "/here.wmv",
         "--redirect", "same.wmv=/clip.wmv"});

  CliResult r = Run({"get", "mmsh" + Http("away.wmv").substr(4), "-o", "away.wmv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> HTTP: redirected to " + plainSite + "/here.wmv\n"), std::string::npos)
      << r.err;
  EXPECT_TRUE(ReadFile(Path("away.wmv")) == ReadFile(root_ + "/clip.wmv"));

  r = Run({"get", Http("same.wmv"), "-o", "same.asf"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> - Receiving HTTP protocol streams -\n"), std::string::npos) << r.err;
  EXPECT_NEAR(ProbeDuration(Path("same.asf")), ProbeDuration(root_ + "/clip.wmv"), 0.5);
}

// A list far longer than the fifty entries a batch takes: every one of the fifty runs and
// completes (short entries must not add up to a stall), and the cut is told on stdout.
TEST_F(CliWebInput, LongPlayListIsCutToFiftyAndSaysSo) {
  Serve({"--rate", "0", "--mms-port", "-1"});
  std::string list = "<ASX version=\"3.0\">\r\n";
  for (int i = 0; i < 100000; ++i) {
    list += "<ENTRY><REF HREF=\"" + Http("audio.wma") + "?seed=" + std::to_string(i) +
            "\"/></ENTRY>\r\n";
  }
  Write("long.asx", list + "</ASX>\r\n");
  const std::string out = Path("out");
  std::filesystem::create_directories(out);
  const CliResult r = Run({"batch", Http("long.asx"), "-d", out});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    expected += "completed\t" + Http("audio.wma") + "?seed=" + std::to_string(i) + "\t" + out +
                "/_" + std::to_string(i + 1) + "_audio.wma\n";
  }
  expected += "cut\tthe play list holds more than 50 entries; only the first 50 were taken\n";
  expected += "batch: 50 entries (play list cut), 50 completed, 0 failed\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_GT(ProbeDuration(out + "/_50_audio.wma"), 1.0);
}

}  // namespace
}  // namespace qor::testing
