// RTSP against scripted servers: the answers, the description and the RTP of a real clip, built
// with the reference server's own builders and edited the way a misbehaving server would, played
// over a port with no socket and no thread. Media comes interleaved in the connection, or as
// datagrams to the port pair.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "media_source.h"
#include "rtp_packetizer.h"
#include "rtsp_description.h"
#include "session/rtsp_protocol.h"
#include "session/scripted_port.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using State = RtspProtocol::State;
using Bytes = std::vector<uint8_t>;
constexpr int kServerRtp = 5000;  // the server's port pair in the SETUP answers

std::string Answer(int cseq, const std::string& status, const std::string& headers = "",
                   const std::string& body = "") {
  return "RTSP/1.0 " + status + "\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers +
         (body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n") + "\r\n" +
         body;
}

std::string Frame(uint8_t channel, const Bytes& rtp) {
  std::string f = "$";
  f += static_cast<char>(channel);
  f += static_cast<char>(rtp.size() >> 8);
  f += static_cast<char>(rtp.size() & 0xFF);
  return f + std::string(rtp.begin(), rtp.end());
}

std::string Notice(const std::string& body, int next) {
  return "SET_PARAMETER rtsp://h/clip.wmv RTSP/1.0\r\nCSeq: 1\r\nX-Notice: 2101 \"End-of-Stream "
         "Reached\"\r\nRTP-Info: url=rtsp://h/clip.wmv/stream=1;seq=" +
         std::to_string(next) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

// What a server sends a client recording clip.wmv: the answers in the order its requests ask
// for them (OPTIONS, DESCRIBE, SETUP of each stream, PLAY), the RTP, the end notice.
struct RtspScript {
  std::shared_ptr<const server::MediaSource> media;
  std::vector<std::string> answers;  // before the media
  std::vector<Bytes> rtp;
  std::string tail;  // after the media
  uint16_t firstSequence = 1000;

  // maxPayload 0: one ASF packet in each RTP packet, as servers send them on a network.
  static RtspScript ForClip(bool udp, server::LengthField length = server::LengthField::kWithHeader,
                            size_t maxPayload = 0) {
    RtspScript s;
    std::string error;
    s.media = server::MediaSource::Load(SampleMedia("clip.wmv"), error);
    server::SdpOffer offer;
    offer.baseUrl = "rtsp://h/clip.wmv";
    offer.retransmission = udp;
    const std::string sdp = server::BuildSdp(*s.media, s.media->Header(), offer);
    const std::string session = "Session: 77;timeout=60\r\n";
    s.answers = {Answer(1, "200 OK", "Supported: com.microsoft.wm.eosmsg\r\n"),
                 Answer(2, "200 OK", "Content-Base: rtsp://h/clip.wmv/\r\n", sdp)};
    int cseq = 3;
    const int setups = static_cast<int>(s.media->StreamNumbers().size()) + (udp ? 1 : 0);
    for (int i = 0; i < setups; ++i) {
      const std::string transport =
          udp ? "RTP/AVP/UDP;unicast;server_port=" + std::to_string(kServerRtp) + "-" +
                    std::to_string(kServerRtp + 1) + ";ssrc=" + (i == 0 ? "5100" : "51000100")
              : "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * i) + "-" +
                    std::to_string(2 * i + 1) + ";ssrc=51000100";
      s.answers.push_back(Answer(cseq++, "200 OK", session + "Transport: " + transport + "\r\n"));
    }
    s.answers.push_back(Answer(cseq, "200 OK",
                               session + "RTP-Info: url=rtsp://h/clip.wmv/stream=1;seq=" +
                                   std::to_string(s.firstSequence) + "\r\n"));
    if (maxPayload == 0) maxPayload = s.media->PacketSize() + 8;
    server::RtpPacketizer packetizer(0x51000100, s.firstSequence, length, true, maxPayload);
    for (uint64_t i = 0; i < s.media->PacketCount(); ++i) {
      server::AsfPacketInfo info;
      info.sendTime = s.media->SendTime(i);
      info.locationId = static_cast<uint32_t>(i);
      packetizer.Add(s.media->Packet(i), s.media->PacketSize(), info, s.rtp);
    }
    packetizer.Flush(s.rtp);
    s.tail = Notice("EOF: true\r\n", packetizer.NextSequence());
    return s;
  }
  // Everything over one connection, the media interleaved.
  std::string Interleaved() const {
    std::string all;
    for (const std::string& a : answers) all += a;
    for (const Bytes& p : rtp) all += Frame(0, p);
    return all + tail;
  }
};

struct Played {
  std::vector<std::pair<std::string, uint32_t>> posts;
  State state = State::kOptions;
  std::string sent;
  std::vector<ScriptedPort::Addressed> datagrams;
  size_t connections = 0;
  uint32_t lost = 0;
  AsfLayout saved;
  bool Posted(const std::string& text) const {
    return std::any_of(posts.begin(), posts.end(), [&](const auto& p) { return p.first == text; });
  }
  int Count(uint32_t code) const {
    return static_cast<int>(std::count_if(posts.begin(), posts.end(),
                                          [&](const auto& p) { return (p.second & code) != 0; }));
  }
  std::string Log() const {
    std::string all;
    for (const auto& [text, code] : posts) all += std::to_string(code) + " " + text + "\n";
    return all;
  }
};

// Plays the conversation; drive: what the server does on the connection (and to the port pair).
Played Play(bool udp, const std::function<void(ScriptedPort&)>& drive,
            const std::function<void(SessionConfig&)>& configure = nullptr) {
  const std::string saved = NewTempFolder() + "/clip.asf";
  Played out;
  {
    SessionConfig config;
    config.ProtocolFlags = udp ? pfRtspUdp : pfRtspTcp;
    config.Host = "h";
    config.ConnectPort = 554;
    config.UdpPort = 7000;
    config.Path = "clip.wmv";
    if (configure) configure(config);
    ScriptedPort port(config, saved);
    RtspProtocol rtsp(port);
    port.Attach(rtsp);
    drive(port);
    // The resend tick, as the session's timer runs it beside the loop.
    std::atomic<bool> running{udp};
    std::thread tick([&] {
      while (running.load()) {
        rtsp.ResendTick();
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
      }
    });
    port.Run();
    running = false;
    tick.join();
    out.posts = port.Posts();
    out.state = rtsp.CurrentState();
    out.sent = port.SentTcp();
    out.datagrams = port.SentUdpTo();
    out.connections = port.Connects().size() + 1;
    out.lost = port.Counters().LostPackets.load();
  }
  out.saved = ReadAsfLayout(saved);
  return out;
}

Played PlayTcp(const std::string& conversation) {
  return Play(false, [&](ScriptedPort& port) { port.Serve({conversation}); });
}

// Over UDP: the answers on the connection, the datagrams to the pair, then the tail.
Played PlayUdp(const RtspScript& s, const std::vector<size_t>& order, int fromPort = kServerRtp) {
  return Play(true, [&](ScriptedPort& port) {
    port.Connect();
    std::string answers;
    for (const std::string& a : s.answers) answers += a;
    port.Receive(answers);
    for (size_t i : order)
      port.Datagram(s.rtp[i], UdpOrigin{false, static_cast<uint16_t>(fromPort)});
    port.Receive(s.tail);
  });
}

TEST(RtspScript, AWholeClipInAnyShapeOfRtpIsSavedPacketForPacket) {
  const AsfLayout clip = ReadAsfLayout(SampleMedia("clip.wmv"));
  const struct {
    const char* what;
    server::LengthField length;
    size_t maxPayload;
  } rows[] = {
      {"lengths counting the header", server::LengthField::kWithHeader, 0},
      {"several packets in each RTP packet", server::LengthField::kWithHeader,
       server::kMaxRtpPayload},
      {"lengths counting the packet alone", server::LengthField::kPacketOnly,
       server::kMaxRtpPayload},
      {"every packet in fragments", server::LengthField::kWithHeader, 700},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Played p = PlayTcp(RtspScript::ForClip(false, row.length, row.maxPayload).Interleaved());
    EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
    EXPECT_EQ(p.state, State::kEnded);
    EXPECT_TRUE(p.saved.packets == clip.packets);
    // The session is closed properly at the end.
    EXPECT_NE(p.sent.find("TEARDOWN rtsp://h/clip.wmv RTSP/1.0"), std::string::npos);
  }
}

TEST(RtspScript, AMisbehavingServerEndsTheSessionWithWhatCameBefore) {
  const RtspScript clip = RtspScript::ForClip(false);
  const struct {
    const char* what;
    std::function<std::vector<std::string>(RtspScript&)> conversation;
    std::function<void(const Played&)> expect;
  } rows[] = {
      {"the connection closes in the middle of the media",
       [](RtspScript& s) {
         return std::vector<std::string>{s.Interleaved().substr(0, s.Interleaved().size() / 2)};
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The server closed the connection before the end of the stream"))
             << p.Log();
         EXPECT_GT(p.saved.packets.size(), 5u);
       }},
      {"the clip is not there",
       [](RtspScript& s) {
         s.answers[1] = Answer(2, "404 Not Found");
         return std::vector<std::string>{s.Interleaved()};
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("DESCRIBE refused: RTSP/1.0 404 Not Found")) << p.Log();
       }},
      {"a description without the ASF header",
       [](RtspScript& s) {
         s.answers[1] = Answer(2, "200 OK", "", "v=0\r\nm=audio 0 RTP/AVP 96\r\n");
         return std::vector<std::string>{s.Interleaved()};
       },
       [](const Played& p) {
         EXPECT_TRUE(
             p.Posted("RTSP: the description holds no ASF header (a=pgmpu): this is no Windows "
                      "Media stream"))
             << p.Log();
       }},
      {"bytes that are no RTSP after some media",
       [](RtspScript& s) {
         std::string all = s.Interleaved();
         const size_t at = all.find('$');
         return std::vector<std::string>{all.substr(0, at) + Frame(0, s.rtp[0]) +
                                         Frame(0, s.rtp[1]) + "\x01\x02garbage"};
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The current RTSP message failed - Closing now")) << p.Log();
         EXPECT_GE(p.saved.packets.size(), 2u);
       }},
      {"an HTTP server on the RTSP port",
       [](RtspScript&) {
         return std::vector<std::string>{"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"};
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("RTSP: the server answered in HTTP, not RTSP: HTTP/1.0 200 OK"))
             << p.Log();
       }},
      {"the end of a play-list entry: a new track with this entry's packets only",
       [](RtspScript& s) {
         std::string all;
         for (const std::string& a : s.answers) all += a;
         for (size_t i = 0; i < s.rtp.size(); ++i) {
           if (i == 5) all += Notice("EOF: true\r\nEnd-Of-Playlist-Entry: true\r\n", 0);
           all += Frame(0, s.rtp[i]);
         }
         return std::vector<std::string>{all};
       },
       [](const Played& p) {
         EXPECT_EQ(p.Count(mcNewTrack), 1) << p.Log();
         EXPECT_EQ(p.state, State::kTrackChanged);
         EXPECT_FALSE(p.saved.packets.empty());
         EXPECT_LT(p.saved.packets.size(), 30u);
       }},
      {"the administrator disconnects the stream",
       [](RtspScript& s) {
         s.tail = Notice("EOF: true\r\nAdministrativeDisconnection: true\r\n", 0);
         return std::vector<std::string>{s.Interleaved()};
       },
       [](const Played& p) {
         EXPECT_TRUE(
             p.Posted("RTSP: the server ended the stream (its administrator disconnected it)"))
             << p.Log();
         EXPECT_EQ(p.Count(mcCompleted), 0);
       }},
      {"a redirection is followed to the new place",
       [](RtspScript&) {
         return std::vector<std::string>{
             Answer(1, "302 Moved", "Location: rtsp://other:8554/moved.wmv\r\n"), ""};
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("RTSP: redirected to rtsp://other:8554/moved.wmv")) << p.Log();
         EXPECT_EQ(p.connections, 2u);
         EXPECT_NE(p.sent.find("OPTIONS rtsp://other:8554/moved.wmv RTSP/1.0"), std::string::npos);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    RtspScript script = clip;
    const std::vector<std::string> connections = row.conversation(script);
    row.expect(Play(false, [&](ScriptedPort& port) { port.Serve(connections); }));
  }
}

TEST(RtspScript, SignInAnswersTheChallengeAndAWrongPasswordEndsIt) {
  RtspScript script = RtspScript::ForClip(false);
  const std::string challenge =
      Answer(2, "401 Unauthorized", "WWW-Authenticate: Basic realm=\"qor\"\r\n");
  std::vector<bool> answered;
  const auto withPrompt = [&](SessionConfig& c) {
    c.Prompts.AskHttpCredentials = [](const std::string& site, const std::string& realm) {
      EXPECT_EQ(site, "h:554");
      EXPECT_EQ(realm, "qor");
      return std::optional<std::pair<std::string, std::string>>({"ann", "pw"});
    };
    c.Prompts.HttpCredentialsAnswered = [&](bool ok) { answered.push_back(ok); };
  };
  // The DESCRIBE is asked again (CSeq 3) with the credentials: every later answer moves up one.
  std::string all = script.answers[0] + challenge;
  for (size_t i = 1; i < script.answers.size(); ++i) {
    std::string a = script.answers[i];
    const size_t at = a.find("CSeq: ") + 6;
    a.replace(at, a.find('\r', at) - at, std::to_string(i + 2));
    all += a;
  }
  for (const Bytes& p : script.rtp) all += Frame(0, p);
  Played p = Play(
      false, [&](ScriptedPort& port) { port.Serve({all + script.tail}); }, withPrompt);
  EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
  EXPECT_NE(p.sent.find("Authorization: Basic YW5uOnB3\r\n"), std::string::npos);
  EXPECT_EQ(answered, std::vector<bool>{true});

  answered.clear();
  const std::string refused =
      script.answers[0] + challenge +
      Answer(3, "401 Unauthorized", "WWW-Authenticate: Basic realm=\"qor\"\r\n");
  p = Play(
      false, [&](ScriptedPort& port) { port.Serve({refused}); }, withPrompt);
  EXPECT_TRUE(p.Posted("RTSP/1.0 401 Unauthorized: the server refused the user name and password"))
      << p.Log();
  EXPECT_EQ(answered, std::vector<bool>{false});
}

TEST(RtspScript, DatagramsLostOrLateOverUdp) {
  const RtspScript clip = RtspScript::ForClip(true);
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  std::vector<size_t> all(clip.rtp.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  const auto without = [&](std::vector<size_t> order, size_t lost) {
    order.erase(std::find(order.begin(), order.end(), lost));
    return order;
  };
  const auto late = [&](std::vector<size_t> order, size_t which, size_t after) {
    order.erase(std::find(order.begin(), order.end(), which));
    order.insert(std::find(order.begin(), order.end(), after) + 1, which);
    return order;
  };
  const struct {
    const char* what;
    std::vector<size_t> order;
    int fromPort;
    std::function<void(const Played&)> expect;
  } rows[] = {
      {"all in order", all, kServerRtp,
       [&](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_TRUE(p.saved.packets == source.packets);
         EXPECT_EQ(p.lost, 0u);
       }},
      {"one late: held back, then all in their places", late(all, 2, 5), kServerRtp,
       [&](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_TRUE(p.saved.packets == source.packets);
         EXPECT_EQ(p.lost, 0u);
       }},
      {"one never comes: asked for, then counted lost", without(all, 3), kServerRtp,
       [&](const Played& p) {
         ASSERT_FALSE(p.datagrams.empty());
         EXPECT_TRUE(p.datagrams.front().from.control);
         EXPECT_EQ(p.datagrams.front().port, kServerRtp + 1);
         const auto& nack = p.datagrams.front().bytes;
         // After the receiver report and the SDES: a generic NACK for the fourth packet.
         EXPECT_NE(nack.find("20736@WMS:7ff42e07-3c7c-4eb5-9c17-6bdd11ad90de"), std::string::npos);
         EXPECT_EQ(static_cast<uint8_t>(nack[nack.size() - 4]), (clip.firstSequence + 3) >> 8);
         EXPECT_EQ(static_cast<uint8_t>(nack[nack.size() - 3]), (clip.firstSequence + 3) & 0xFF);
         EXPECT_GT(p.lost, 0u) << p.Log();
         EXPECT_LT(p.saved.packets.size(), source.packets.size() + 1);
       }},
      {"datagrams from another port of the server's host are not ours", all, kServerRtp + 10,
       [&](const Played& p) { EXPECT_TRUE(p.Posted(kNothingReceived)) << p.Log(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    row.expect(PlayUdp(clip, row.order, row.fromPort));
  }
}

}  // namespace
}  // namespace qor::testing
