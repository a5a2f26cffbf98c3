// qor-cli info --json judged by ffprobe: for every sample file and for a title served by the
// real qor-server, the stream count, the streams' kinds, codecs and sizes, the duration and the
// file size must agree with `ffprobe -of json`, and the values must have JSON's types (numbers,
// arrays), not texts a script would have to parse again.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "common/server_process.h"

namespace qor::testing {
namespace {

using nlohmann::json;

json Ffprobe(const std::string& target) {
  const std::string command =
      "ffprobe -v error -of json -show_format -show_streams '" + target + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (pipe) ::pclose(pipe);
  return json::parse(out, nullptr, false);
}

json InfoJson(const std::string& target) {
  CliRun run;
  run.args = {"info", target, "--json"};
  const CliResult r = RunCli(run);
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(r.out, nullptr, false);
}

double Number(const json& text) {
  return text.is_string() ? std::stod(text.get<std::string>()) : -1;
}

// What both readers must say alike of one title; ours is typed, ffprobe's numbers are strings.
void ExpectAgreement(const json& ours, const json& probe) {
  ASSERT_FALSE(ours.is_discarded());
  ASSERT_FALSE(probe.is_discarded());
  const json& format = ours["format"];
  ASSERT_TRUE(format["nb_streams"].is_number_unsigned()) << format;
  ASSERT_TRUE(format["duration"].is_number()) << format;
  ASSERT_TRUE(ours["streams"].is_array());
  ASSERT_TRUE(ours["bitrate_records"].is_array());
  ASSERT_TRUE(ours["index"].is_array());
  ASSERT_TRUE(ours["tags"]["extended"].is_array());
  EXPECT_EQ(format["nb_streams"].get<int>(), probe["format"]["nb_streams"].get<int>());
  ASSERT_EQ(ours["streams"].size(), probe["streams"].size());
  // ffprobe counts the duration from the last packet's time, the header from the play time:
  // they differ by less than a frame.
  EXPECT_NEAR(format["duration"].get<double>(), Number(probe["format"]["duration"]), 0.1);
  for (size_t i = 0; i < ours["streams"].size(); ++i) {
    SCOPED_TRACE("stream " + std::to_string(i));
    const json& s = ours["streams"][i];
    const json& p = probe["streams"][i];
    EXPECT_EQ(s["codec_type"], p["codec_type"]);
    EXPECT_EQ(s["codec_name"], p["codec_name"]);
    if (p["codec_type"] == "video") {
      EXPECT_EQ(s["width"], p["width"]);
      EXPECT_EQ(s["height"], p["height"]);
    } else {
      ASSERT_TRUE(s["sample_rate"].is_number_unsigned()) << s;
      EXPECT_EQ(s["sample_rate"].get<double>(), Number(p["sample_rate"]));
      EXPECT_EQ(s["channels"], p["channels"]);
      // With records the rate is the one measured over the stream, as a stream choice counts it;
      // without, the format's own, which is what ffprobe shows.
      if (ours["bitrate_records"].empty()) {
        EXPECT_EQ(s["bit_rate"].get<double>(), Number(p["bit_rate"]));
      }
    }
  }
}

TEST(CliInfoJson, EverySampleFileAgreesWithFfprobe) {
  for (const char* name : {"clip.wmv", "audio.wma", "twovideo.asf", "mbr.wmv"}) {
    SCOPED_TRACE(name);
    const std::string path = SampleMedia(name);
    const json ours = InfoJson(path);
    const json probe = Ffprobe(path);
    ExpectAgreement(ours, probe);
    ASSERT_TRUE(ours["format"]["size"].is_number_unsigned());
    EXPECT_EQ(ours["format"]["size"].get<double>(), Number(probe["format"]["size"]));
    EXPECT_EQ(ours["format"]["size"].get<long long>(), FileSize(path));
    EXPECT_EQ(ours["format"]["packet_size"], 3200);
    EXPECT_EQ(ours["format"]["seekable"], true);
    // ffmpeg ends a file with video with a simple index, an entry a second.
    if (ours["streams"][0]["codec_type"] == "video") {
      ASSERT_EQ(ours["index"].size(), 1u) << ours["index"];
      EXPECT_GE(ours["index"][0]["entries"].size(), 6u);
    }
  }
  const json clip = InfoJson(SampleMedia("clip.wmv"));
  EXPECT_EQ(clip["tags"]["title"], "Qor sample clip");
  bool genre = false;
  for (const json& e : clip["tags"]["extended"])
    genre |= e["name"] == "WM/Genre" && e["type"] == "string" && e["value"] == "Test";
  EXPECT_TRUE(genre) << clip["tags"];
  // The encoder's objects ffmpeg does not write: rates per stream and the exclusion groups.
  const json mbr = InfoJson(SampleMedia("mbr.wmv"));
  ASSERT_EQ(mbr["bitrate_records"].size(), 4u);
  EXPECT_EQ(mbr["bitrate_records"][3]["stream"], 4);
  EXPECT_EQ(mbr["streams"][0]["mbr_group"], mbr["streams"][1]["mbr_group"]);
  EXPECT_NE(mbr["streams"][0]["mbr_group"], mbr["streams"][2]["mbr_group"]);
  EXPECT_TRUE(mbr["streams"][0]["mbr_group"].is_number_unsigned());
}

TEST(CliInfoJson, ServedTitleAgreesWithFfprobeOverMmsh) {
  ServerProcess server(QOR_SERVER_PROGRAM, {"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0"});
  ASSERT_TRUE(server.Running());
  const std::string where = "127.0.0.1:" + std::to_string(server.HttpPort()) + "/mbr.wmv";
  const json ours = InfoJson("http://" + where);
  ExpectAgreement(ours, Ffprobe("mmsh://" + where));
  EXPECT_EQ(ours["format"]["location"], "http://" + where);
  EXPECT_EQ(ours["format"]["size"].get<long long>(), FileSize(SampleMedia("mbr.wmv")));
  EXPECT_EQ(ours["index"], json::array());
}

}  // namespace
}  // namespace qor::testing
