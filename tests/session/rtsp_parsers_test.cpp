// The RTSP client's readers and builders, checked against the reference server's own: message
// framing at every cut of a conversation, the session description the server writes, the requests
// as the server reads them, and RTCP both ways.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "media_source.h"
#include "rtp_packetizer.h"
#include "rtsp_description.h"
#include "rtsp_message.h"
#include "session/rtcp_packets.h"
#include "session/rtsp_message.h"
#include "session/rtsp_requests.h"
#include "session/rtsp_sdp.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// An answer, two interleaved frames (one empty), the server's own request with a body, blank
// lines between: what one connection may bring, unit by unit.
struct Piece {
  std::string bytes;
  RtspUnitKind kind;
};
std::vector<Piece> Conversation() {
  return {{"RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 77;timeout=60\r\n\r\n", RtspUnitKind::kMessage},
          {std::string("$\x00\x00\x05hello", 9), RtspUnitKind::kInterleaved},
          {"\r\n", RtspUnitKind::kNeedMore},
          {std::string("$\x01\x00\x00", 4), RtspUnitKind::kInterleaved},
          {"SET_PARAMETER rtsp://h/clip RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 11\r\n\r\n"
           "EOF: true\r\n",
           RtspUnitKind::kMessage}};
}

TEST(RtspFraming, EveryCutOfAConversationWaitsForTheWholeUnit) {
  std::string all;
  for (const Piece& piece : Conversation()) all += piece.bytes;
  size_t at = 0;
  for (const Piece& piece : Conversation()) {
    const size_t length = piece.bytes.size();
    // Every shorter cut of this unit says "more", taking nothing but blank lines.
    for (size_t cut = 0; cut < length; ++cut) {
      const RtspUnit partial = FrameRtspUnit(Bytes(all) + at, cut);
      ASSERT_EQ(partial.kind, RtspUnitKind::kNeedMore) << "at " << at << " cut " << cut;
      ASSERT_EQ(partial.consumed, piece.kind == RtspUnitKind::kNeedMore ? cut : 0) << at;
    }
    const RtspUnit whole = FrameRtspUnit(Bytes(all) + at, all.size() - at);
    ASSERT_EQ(whole.kind, piece.kind) << "at " << at;
    ASSERT_EQ(whole.consumed, length) << "at " << at;
    at += length;
  }
  EXPECT_EQ(FrameRtspUnit(Bytes(all) + 52, 9).channel, 0);
  RtspMessage notice;
  const std::string text = Conversation().back().bytes;
  ASSERT_TRUE(ParseRtspMessage(Bytes(text), text.size(), notice));
  EXPECT_EQ(notice.method, "SET_PARAMETER");
  EXPECT_EQ(notice.url, "rtsp://h/clip");
  EXPECT_EQ(notice.CSeq(), 1);
  EXPECT_EQ(notice.body, "EOF: true\r\n");
}

TEST(RtspFraming, WhatIsNoRtspIsRefusedAtOnce) {
  const std::string rows[] = {
      std::string("\x00\x01\x02\x03garbage", 11),
      "HTTP/1.0 200 OK\r\n\r\n",
      "RTSP/1.0 2x0 OK\r\n\r\n",
      "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n",
      "RTSP/1.0 200 OK\r\nContent-Length: 99999999\r\n\r\n",
      "RTSP/1.0 200 OK\r\n" + std::string(70000, 'x'),
      "get rtsp://h/ RTSP/1.0\r\n\r\n",
  };
  for (const std::string& row : rows) {
    EXPECT_EQ(FrameRtspUnit(Bytes(row), row.size()).kind, RtspUnitKind::kBad) << row.substr(0, 30);
  }
  RtspMessage message;
  const std::string folded =
      "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
      "WWW-Authenticate: Digest realm=\"b\",\r\n nonce=\"c\"\r\nCSeq: x\r\n\r\n";
  ASSERT_TRUE(ParseRtspMessage(Bytes(folded), folded.size(), message));
  EXPECT_EQ(message.status, 401);
  EXPECT_EQ(message.reason, "Unauthorized");
  EXPECT_EQ(message.All("www-authenticate"),
            (std::vector<std::string>{"Basic realm=\"a\"", "Digest realm=\"b\", nonce=\"c\""}));
  EXPECT_EQ(message.CSeq(), -1);
  const std::string shortBody = "RTSP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nabc";
  EXPECT_FALSE(ParseRtspMessage(Bytes(shortBody), shortBody.size(), message));
}

TEST(RtspSdp, TheServersDescriptionGivesTheHeaderStreamsAndResends) {
  std::string error;
  const auto media = server::MediaSource::Load(SampleMedia("clip.wmv"), error);
  ASSERT_TRUE(media) << error;
  server::SdpOffer offer;
  offer.baseUrl = "rtsp://127.0.0.1:554/clip.wmv";
  offer.retransmission = true;
  const std::string sdp = server::BuildSdp(*media, media->Header(), offer);
  SdpDescription d;
  ASSERT_TRUE(ReadSdp(sdp.data(), sdp.size(), d, error)) << error;
  EXPECT_EQ(d.asfHeader, media->Header());
  EXPECT_EQ(d.maxPacketSize, media->PacketSize());
  EXPECT_FALSE(d.live);
  ASSERT_EQ(d.streams.size(), media->StreamNumbers().size());
  for (size_t i = 0; i < d.streams.size(); ++i) {
    EXPECT_EQ(d.streams[i].streamNumber, media->StreamNumbers()[i]);
    EXPECT_EQ(d.streams[i].control,
              server::StreamControl(offer.baseUrl, d.streams[i].streamNumber));
    EXPECT_EQ(d.streams[i].encoding, "x-asf-pf");
  }
  ASSERT_TRUE(d.retransmission);
  EXPECT_EQ(d.retransmission->control, server::RetransmissionControl(offer.baseUrl));

  const struct {
    const char* sdp;
    const char* why;
  } refused[] = {
      {"v=0\r\nm=audio 0 RTP/AVP 96\r\na=stream:1\r\n", "no ASF header"},
      {"a=pgmpu:data:application/vnd.ms.wms-hdr.asfv1;base64,AA*A\r\n", "not valid base64"},
      {"a=pgmpu:data:application/vnd.ms.wms-hdr.asfv1;base64,A\r\n", "not valid base64"},
  };
  for (const auto& row : refused) {
    EXPECT_FALSE(ReadSdp(row.sdp, std::strlen(row.sdp), d, error)) << row.sdp;
    EXPECT_NE(error.find(row.why), std::string::npos) << error;
  }
}

TEST(RtspSdp, ControlUrlsResolveAgainstTheBase) {
  const struct {
    const char* base;
    const char* control;
    const char* url;
  } rows[] = {
      {"rtsp://h/clip.wmv/", "stream=1", "rtsp://h/clip.wmv/stream=1"},
      {"rtsp://h/clip.wmv", "stream=1", "rtsp://h/clip.wmv/stream=1"},
      {"rtsp://h/clip.wmv?x=1", "rtx", "rtsp://h/clip.wmv/rtx"},
      {"rtsp://h:8554/a/b", "/c/d", "rtsp://h:8554/c/d"},
      {"rtsp://h/a", "rtsp://other/x", "rtsp://other/x"},
      {"rtsp://h/a", "*", "rtsp://h/a"},
  };
  for (const auto& row : rows) EXPECT_EQ(ResolveControl(row.base, row.control), row.url);
}

TEST(RtspRequests, TheServerReadsEveryRequestAsMeant) {
  RtspRequestContext c;
  c.cseq = 7;
  c.clientGuid = "{3300AD50-2C39-46C0-AE0A-3F6A8E2C1B11}";
  c.session = "1385";
  c.authorization = "Basic YTpi";
  const std::string url = "rtsp://127.0.0.1:8554/clip.wmv";
  const struct {
    std::string text;
    const char* method;
    const char* header;
    const char* value;
  } rows[] = {
      {BuildRtspOptions(url, c), "OPTIONS", "Supported",
       "com.microsoft.wm.sswitch, com.microsoft.wm.eosmsg, com.microsoft.wm.locid"},
      {BuildRtspDescribe(url, c), "DESCRIBE", "Accept", "application/sdp"},
      {BuildRtspSetup(url + "/stream=1", c, {false, 7000, 7001}), "SETUP", "Transport",
       "RTP/AVP/UDP;unicast;client_port=7000-7001;mode=PLAY"},
      {BuildRtspSetup(url + "/stream=2", c, {true, 2, 3}), "SETUP", "Transport",
       "RTP/AVP/TCP;unicast;interleaved=2-3;mode=PLAY"},
      {BuildRtspPlay(url, c, 61005, "4"), "PLAY", "Range", "npt=61.005-"},
      {BuildRtspGetParameter(url, c), "GET_PARAMETER", "Session", "1385"},
      {BuildRtspTeardown(url, c), "TEARDOWN", "Authorization", "Basic YTpi"},
  };
  for (const auto& row : rows) {
    size_t consumed = 0;
    server::RtspRequest request;
    uint8_t channel = 0;
    std::string frame;
    ASSERT_EQ(server::TakeRtspUnit(row.text, consumed, request, channel, frame),
              server::RtspUnit::kMessage)
        << row.text;
    EXPECT_EQ(consumed, row.text.size());
    EXPECT_EQ(request.method, row.method);
    EXPECT_EQ(request.CSeq(), 7);
    EXPECT_EQ(request.Header(row.header), row.value) << row.method;
    EXPECT_EQ(request.Header("User-Agent"),
              "WMPlayer/9.0.0.4503 guid/3300AD50-2C39-46C0-AE0A-3F6A8E2C1B11");
    EXPECT_TRUE(request.Supports("com.microsoft.wm.eosmsg") ||
                row.method != std::string("DESCRIBE"));
  }
  EXPECT_EQ(NptFrom(0), "npt=0.000-");
}

TEST(RtspRtcp, NacksReachTheServerAndItsReportsAreRead) {
  // Runs, a wrap past 65535 and more numbers than one packet's entries carry.
  std::vector<uint16_t> wanted = {65534, 65535, 0, 5, 6, 21, 22, 40};
  for (uint16_t n = 100; n < 100 + 17 * 40; n = static_cast<uint16_t>(n + 17)) wanted.push_back(n);
  std::vector<uint16_t> left = wanted;
  std::vector<uint16_t> asked;
  while (!left.empty()) {
    std::vector<uint8_t> packet = BuildRtcpReceiverReport(9, {}, "1234@WMS:x");
    AppendRtcpNack(9, 0x51000100, left, packet);
    EXPECT_TRUE(ReadRtcp(packet.data(), packet.size()).valid);
    const auto read = server::ReadRtcpNacks(packet.data(), packet.size(), 0x51000100);
    EXPECT_LE(read.size(), kMaxNackEntries * 17);
    asked.insert(asked.end(), read.begin(), read.end());
  }
  std::sort(asked.begin(), asked.end());
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(asked, wanted);

  const auto bye = server::BuildRtcpGoodbye(0x51000100, 5000, 10, 20000);
  const RtcpSummary summary = ReadRtcp(bye.data(), bye.size());
  EXPECT_TRUE(summary.valid);
  EXPECT_EQ(summary.byes, std::vector<uint32_t>{0x51000100});
  ASSERT_EQ(summary.senderReports.size(), 1u);
  EXPECT_FALSE(ReadRtcp(bye.data(), bye.size() - 2).valid);
}

}  // namespace
}  // namespace qor::testing
