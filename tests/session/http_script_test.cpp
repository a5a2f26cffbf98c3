// The HTTP streaming protocol against scripted servers: the describe and play answers for a real
// clip, built with the reference server's chunk builders and edited the way a misbehaving server
// would, played over a port with no socket and no thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "data_units.h"
#include "media_source.h"
#include "session/fast_delivery.h"
#include "session/http_protocol.h"
#include "session/http_requests.h"
#include "session/mms_script.h"
#include "session/scripted_port.h"

namespace qor::testing {
namespace {

using State = HttpProtocol::State;

const std::string kDescribeHead =
    "HTTP/1.0 200 OK\r\nServer: Cougar/9.01.01.3814\r\n"
    "Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n\r\n";
const std::string kPlayHead =
    "HTTP/1.0 200 OK\r\nServer: Cougar/9.01.01.3814\r\nContent-Type: "
    "application/x-mms-framed\r\n\r\n";

struct HttpScript {
  AsfLayout clip;
  std::vector<uint8_t> header;
  std::vector<Unit> play;  // the play answer's chunks, after its header chunks

  static HttpScript ForClip(const std::string& name) {
    HttpScript s;
    const MmsScript mms = MmsScript::ForClip(name);
    s.clip = mms.clip;
    s.header = mms.header;
    for (uint32_t i = 0; i < s.clip.packets.size(); ++i) {
      const auto& p = s.clip.packets[i];
      s.play.push_back(server::BuildPacketChunk(server::kChunkData, i, 0, p.data(), p.size()));
    }
    s.play.push_back(server::BuildReasonChunk(server::kChunkEnd, 0));
    return s;
  }
  // The header in pieces of at most `piece` bytes.
  std::string HeaderChunks(size_t piece = 65000) const {
    std::string out;
    for (size_t at = 0; at < header.size(); at += piece) {
      const size_t n = std::min(piece, header.size() - at);
      const bool first = at == 0, last = at + n == header.size();
      const uint8_t flags = first && last ? 0x0C : first ? 0x04 : last ? 0x08 : 0x00;
      const Unit chunk =
          server::BuildPacketChunk(server::kChunkHeader, 0, flags, header.data() + at, n);
      out.append(chunk.begin(), chunk.end());
    }
    return out;
  }
  std::vector<std::string> Connections(size_t piece = 65000) const {
    std::string answer = kPlayHead + HeaderChunks(piece);
    for (const Unit& u : play) answer.append(u.begin(), u.end());
    return {kDescribeHead + HeaderChunks(piece), answer};
  }
  size_t FindData(size_t n) const {
    for (size_t i = 0; i < play.size(); ++i) {
      if (play[i][1] == 'D' && n-- == 0) return i;
    }
    return play.size();
  }
};

struct Played {
  std::vector<std::pair<std::string, uint32_t>> posts;
  State state = State::kChunks;
  size_t connections = 0;
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

Played Play(const std::vector<std::string>& connections) {
  const std::string saved = NewTempFolder() + "/clip.asf";
  Played out;
  {
    SessionConfig config;
    config.ProtocolFlags = pfHttp;
    config.Host = "127.0.0.1";
    config.HttpPort = 8080;
    config.Path = "clip.wmv";
    ScriptedPort port(config, saved);
    HttpProtocol http(port);
    port.Attach(http);
    port.Serve(connections);
    port.Run();
    out.posts = port.Posts();
    out.state = http.CurrentState();
    out.connections = port.Connects().size() + 1;
  }
  out.saved = ReadAsfLayout(saved);
  return out;
}

TEST(HttpScript, AWholeClipIsSavedPacketForPacketWhateverTheHeaderPieces) {
  const HttpScript script = HttpScript::ForClip("clip.wmv");
  for (size_t piece : {size_t{65000}, size_t{700}}) {
    SCOPED_TRACE(piece);
    const Played p = Play(script.Connections(piece));
    EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
    EXPECT_EQ(p.Count(mcFatal), 0) << p.Log();
    EXPECT_EQ(p.connections, 2u);
    EXPECT_EQ(p.state, State::kEnded);
    ASSERT_EQ(p.saved.packets.size(), script.clip.packets.size());
    EXPECT_TRUE(p.saved.packets == script.clip.packets);
  }
}

struct Misbehaviour {
  const char* what;
  std::function<void(HttpScript&)> edit;
  size_t keepPlayBytes;  // of the play answer (npos: all)
  std::function<void(const Played&)> expect;
};

constexpr size_t kAll = std::string::npos;

TEST(HttpScript, AMisbehavingServerEndsTheSessionKeepingWhatCameBefore) {
  const HttpScript clip = HttpScript::ForClip("clip.wmv");
  const Misbehaviour rows[] = {
      {"a data chunk whose extension disagrees about its length",
       [](HttpScript& s) { s.play[s.FindData(5)][4 + 6] ^= 0x01; }, kAll,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The current HTTP command failed - Closing now")) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 5u);
       }},
      {"a chunk of a type the protocol does not have",
       [](HttpScript& s) {
         s.play.insert(s.play.begin() + 3, Unit{'$', 'Z', 4, 0, 1, 2, 3, 4});
       },
       kAll,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("Unknown command reads: 5A24  of length: 4")) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 3u);
       }},
      {"the server closes in the middle of a chunk", nullptr, 30000,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The server closed the connection before the end of the stream"))
             << p.Log();
         EXPECT_GT(p.saved.packets.size(), 0u);
         EXPECT_LT(p.saved.packets.size(), 10u);
       }},
      {"the stream ends before any packet",
       [](HttpScript& s) { s.play.erase(s.play.begin(), s.play.end() - 1); }, kAll,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted(kNothingReceived)) << p.Log();
         EXPECT_EQ(p.Count(mcCompleted), 0);
       }},
      {"the end of an entry, then a change: a new track with only this entry's packets",
       [](HttpScript& s) {
         const Unit end = server::BuildReasonChunk(server::kChunkEnd, 1);
         const Unit change = server::BuildReasonChunk(server::kChunkChange, 0);
         s.play.insert(s.play.begin() + static_cast<std::ptrdiff_t>(s.FindData(7)), {end, change});
       },
       kAll,
       [](const Played& p) {
         EXPECT_EQ(p.Count(mcNewTrack), 1) << p.Log();
         EXPECT_EQ(p.Count(mcCompleted), 0);
         EXPECT_EQ(p.state, State::kTrackChanged);
         EXPECT_EQ(p.saved.packets.size(), 7u);
       }},
  };
  for (const Misbehaviour& row : rows) {
    SCOPED_TRACE(row.what);
    HttpScript script = clip;
    if (row.edit) row.edit(script);
    std::vector<std::string> connections = script.Connections();
    connections[1] = connections[1].substr(0, row.keepPlayBytes);
    row.expect(Play(connections));
  }
}

// Fast delivery is asked of an on-demand clip only, and only with the setting on: a live stream's
// play request and one with the setting off are the bytes they always were. The server's answer
// goes to the log.
TEST(HttpScript, FastDeliveryIsAskedOfOnDemandClipsAlone) {
  const HttpScript onDemand = HttpScript::ForClip("clip.wmv");
  HttpScript live = onDemand;
  ASSERT_TRUE(server::MarkHeaderAsBroadcast(live.header));
  struct Row {
    const HttpScript* script;
    bool setting, asks;
  };
  for (const Row& row :
       {Row{&onDemand, true, true}, Row{&onDemand, false, false}, Row{&live, true, false}}) {
    SCOPED_TRACE(std::string(row.script == &live ? "live" : "on demand") +
                 (row.setting ? ", on" : ", off"));
    SessionConfig config;
    config.ProtocolFlags = pfHttp;
    config.Host = "127.0.0.1";
    config.HttpPort = 8080;
    config.Path = "clip.wmv";
    config.FastDelivery = row.setting;
    ScriptedPort port(config, NewTempFolder() + "/clip.asf");
    HttpProtocol http(port);
    port.Attach(http);
    std::vector<std::string> connections = row.script->Connections();
    connections[1].insert(connections[1].find("\r\n\r\n") + 2, "Pragma: Speed=5.000\r\n");
    port.Serve(connections);
    port.Run();
    const std::string sent = port.SentTcp();
    const std::string play = sent.substr(sent.find("GET /", 1));
    const HttpRequestTarget target{"127.0.0.1:8080", "clip.wmv", config.ClientGuid};
    if (!row.asks) {
      EXPECT_EQ(play, row.script == &live ? BuildLivePlayRequest(target, port.Asf())
                                          : BuildPrerecordedPlayRequest(target, 0, 2, port.Asf()));
      for (const std::string& text : port.Texts(mcNormal))
        EXPECT_EQ(text.find("fast delivery"), std::string::npos) << text;
      continue;
    }
    // The rest of the clip after its preroll, in milliseconds.
    const TASF& asf = port.Asf();
    const std::string rest = std::to_string(static_cast<uint32_t>(asf.PlayDuration - asf.Preroll));
    const std::string lines =
        "Pragma: LinkBW=2147483647, AccelBW=2147483647, AccelDuration=" + rest +
        "\r\nPragma: Speed=100.000\r\n";
    std::string unasked = play;
    ASSERT_NE(unasked.find(lines), std::string::npos) << play;
    unasked.erase(unasked.find(lines), lines.size());
    EXPECT_EQ(unasked, BuildPrerecordedPlayRequest(target, 0, 2, port.Asf()));
    EXPECT_TRUE(port.Posted("- The server grants the clip at 5.000 times its rate"));
  }
}

}  // namespace
}  // namespace qor::testing
