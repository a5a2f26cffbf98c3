// The MMS protocol against scripted servers: the reference server's conversation for a real clip,
// edited the way a misbehaving server would, fed over a port with no socket and no thread. Each
// row says what the server does differently and what the client must make of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "session/mms_protocol.h"
#include "session/mms_script.h"
#include "session/scripted_port.h"

namespace qor::testing {
namespace {

using State = MmsProtocol::State;

struct Played {
  std::vector<std::pair<std::string, uint32_t>> posts;
  std::vector<uint16_t> commands;
  State state = State::kHandshake;
  uint32_t acks = 0;
  uint32_t startFileNumber = 0;  // the file number the start-play command carried
  AsfLayout saved;

  bool Posted(const std::string& text) const {
    return std::any_of(posts.begin(), posts.end(), [&](const auto& p) { return p.first == text; });
  }
  int Count(uint32_t code) const {
    return static_cast<int>(std::count_if(posts.begin(), posts.end(),
                                          [&](const auto& p) { return (p.second & code) != 0; }));
  }
  std::vector<std::string> Texts(uint32_t code) const {
    std::vector<std::string> texts;
    for (const auto& [text, posted] : posts)
      if (posted & code) texts.push_back(text);
    return texts;
  }
  bool Sent(uint16_t id) const {
    return std::find(commands.begin(), commands.end(), id) != commands.end();
  }
  std::string Log() const {
    std::string all;
    for (const auto& [text, code] : posts) all += std::to_string(code) + " " + text + "\n";
    return all;
  }
};

// Plays the script's bytes (the first `cutAfter` of them) to the end of the connection; with
// udp, media packets come as datagrams (numbered as a server numbers them), the rest over TCP.
Played Play(const MmsScript& script, size_t cutAfter = std::string::npos,
            const SessionPrompts& prompts = {}, bool udp = false) {
  const std::string saved = NewTempFolder() + "/clip.asf";
  Played out;
  {
    SessionConfig config;
    config.ProtocolFlags = udp ? pfMmsTcp | pfMmsUdp : pfMmsTcp;
    config.UdpPort = 7000;
    config.Host = "127.0.0.1";
    config.ConnectPort = 1755;
    config.Path = "clip.wmv";
    config.Prompts = prompts;
    ScriptedPort port(config, saved);
    MmsProtocol mms(port);
    port.Attach(mms);
    port.Connect();
    if (udp) {
      for (Unit unit : script.units) {
        if (!MmsScript::IsMedia(unit)) {
          port.Receive(unit.data(), unit.size());
          continue;
        }
        unit[5] = unit[0];  // the datagram sequence: a clip's packet number, as the server counts
        port.Datagram(unit);
      }
    } else {
      port.Receive(script.Bytes().substr(0, cutAfter));
    }
    port.Close();
    port.Run();
    out.posts = port.Posts();
    out.commands = ClientCommandIds(port.SentTcp());
    out.startFileNumber = LastCommandWord(port.SentTcp(), 0x07, 40);
    out.state = mms.CurrentState();
    out.acks = port.Counters().Acknowledgements.load();
  }
  out.saved = ReadAsfLayout(saved);
  return out;
}

size_t Equal(const AsfLayout& a, const AsfLayout& b) {
  size_t same = 0;
  for (size_t i = 0; i < std::min(a.packets.size(), b.packets.size()); ++i)
    same += a.packets[i] == b.packets[i];
  return same;
}

TEST(MmsScript, AWholeClipIsSavedPacketForPacketAndCompleted) {
  for (int pieces : {1, 3}) {
    SCOPED_TRACE(pieces);
    const MmsScript script = MmsScript::ForClip("clip.wmv", pieces);
    const Played p = Play(script);
    EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
    EXPECT_EQ(p.Count(mcFatal), 0) << p.Log();
    EXPECT_EQ(p.state, State::kEnded);
    EXPECT_EQ(
        std::count_if(p.posts.begin(), p.posts.end(),
                      [](const auto& x) { return x.first == "- Header received and saving"; }),
        1);
    EXPECT_EQ((std::vector<uint16_t>{0x01, 0x18, 0x02, 0x05, 0x15, 0x33, 0x07}), p.commands);
    EXPECT_EQ(p.saved.headerLength, script.clip.headerLength);
    EXPECT_EQ(p.saved.packets.size(), script.clip.packets.size());
    EXPECT_EQ(Equal(p.saved, script.clip), script.clip.packets.size());
  }
}

struct Misbehaviour {
  const char* what;
  std::function<void(MmsScript&)> edit;
  std::function<size_t(const MmsScript&)> cutAfter;  // bytes the server sends before it closes
  std::function<void(const Played&)> expect;
};

TEST(MmsScript, AMisbehavingServerEndsOrIsAnsweredAsItMust) {
  const MmsScript clip = MmsScript::ForClip("clip.wmv");
  const auto packets = clip.clip.packets.size();
  const Misbehaviour rows[] = {
      {"closes in the middle of the sixth packet: the five whole ones are kept", nullptr,
       [](const MmsScript& s) {
         size_t bytes = 0;
         for (size_t i = 0; i < s.FindMedia(5); ++i) bytes += s.units[i].size();
         return bytes + s.units[s.FindMedia(5)].size() / 2;
       },
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The server closed the connection before the end of the stream"))
             << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 5u);
       }},
      {"an open-file reply with packet size 0",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x06)], 92, 0); }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("TMMS: invalid packet size from server")) << p.Log();
         EXPECT_EQ(p.Count(mcFatal), 1);
         EXPECT_FALSE(p.Sent(0x15));  // no header request
       }},
      {"an open-file reply with packet size 1 000 001",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x06)], 92, 1000001); }, nullptr,
       [](const Played& p) { EXPECT_TRUE(p.Posted("TMMS: invalid packet size from server")); }},
      {"a ping with a failure code in the stream is still answered",
       [](MmsScript& s) {
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(2)),
                        MmsScript::Reply(0x1B, 0x80070005, 0));
       },
       nullptr,
       [packets](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_EQ(p.acks, 1u);
         EXPECT_TRUE(p.Sent(0x1B));
         EXPECT_EQ(p.saved.packets.size(), packets);
       }},
      {"a connected reply promising timing tests, then one funnel reply declining them",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x01)], 44, 0xF0F0F0F0); }, nullptr,
       [](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_FALSE(p.Posted("Server does not support timing packets"));
         EXPECT_FALSE(p.Posted("TCP network timing packets received"));
         ASSERT_GE(p.commands.size(), 3u);
         EXPECT_EQ(p.commands[2], 0x02);  // the transport selection after the one funnel reply
       }},
      {"a transport refusal without a failure code",
       [](MmsScript& s) { s.units[s.Find(0x02)] = MmsScript::Reply(0x03, 0, 0); }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("Error: 02 protocol select failure")) << p.Log();
         EXPECT_FALSE(p.Sent(0x05));
       }},
      {"five timing packets: only the second is reported",
       [](MmsScript& s) {
         for (uint8_t i = 0; i < 5; ++i) {
           Unit timing = {i, 0, 0, 0, 0xFF, 0x10, 24, 0};
           timing.resize(24, 0xAA);
           s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.Find(0x02)) + 1, timing);
         }
       },
       nullptr,
       [](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_EQ(std::count_if(p.posts.begin(), p.posts.end(),
                                 [](const auto& x) {
                                   return x.first == "- UDP timing packet pairs were received";
                                 }),
                   1);
       }},
      {"a command the protocol does not have",
       [](MmsScript& s) {
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(1)),
                        MmsScript::Reply(0x77, 0, 0));
       },
       nullptr,
       [](const Played& p) {
         ASSERT_TRUE(p.Posted("The current MMS command was unhandled")) << p.Log();
         // The dump of the message's own first bytes follows, fatal: lead word and signature.
         ASSERT_EQ(p.Count(mcFatal), 1);
         EXPECT_NE(p.Texts(mcFatal)[0].find("CE FA 0B B0"), std::string::npos);
         EXPECT_EQ(p.saved.packets.size(), 1u);
       }},
      {"a data unit with an unknown tag keeps the packets before it",
       [](MmsScript& s) { s.units[s.FindMedia(3)][4] = 0x07; }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The current MMS packet failed - Closing now")) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 3u);
       }},
      {"a header unasked in the middle of the stream: nothing after it is saved",
       [](MmsScript& s) {
         const Unit piece = s.units[s.Find(0x11) + 1];
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(4)), piece);
       },
       nullptr,
       [](const Played& p) {
         EXPECT_TRUE(
             p.Posted("Warning, a stream header arrived unasked: media after it is not "
                      "saved into this file"))
             << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 4u);
         EXPECT_EQ(p.Count(mcCompleted), 1);
       }},
      {"the end of an entry, then a change: a new track, and nothing of the next entry is saved",
       [](MmsScript& s) {
         const size_t at = s.FindMedia(6);
         const std::vector<Unit> change = {MmsScript::Reply(0x1E, 1, 0),
                                           MmsScript::Reply(0x20, 0, 0)};
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(at), change.begin(),
                        change.end());
       },
       nullptr,
       [](const Played& p) {
         EXPECT_EQ(p.Count(mcNewTrack), 1) << p.Log();
         EXPECT_EQ(p.Count(mcCompleted), 0);
         EXPECT_EQ(p.state, State::kTrackChanged);
         EXPECT_EQ(p.saved.packets.size(), 6u);
       }},
      {"a failure code the error table does not know still ends the session",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x06)], 40, 0x8BADF00D); }, nullptr,
       [](const Played& p) {
         ASSERT_EQ(p.Count(mcFatal), 1) << p.Log();
         EXPECT_EQ(p.Texts(mcFatal)[0].rfind("Server Error Message : ", 0), 0u);
         EXPECT_FALSE(p.Sent(0x15));
       }},
      {"a unit whose length field lies is caught before it reaches the loop",
       [](MmsScript& s) { MmsScript::Store16(s.units[s.FindMedia(5)], 6, 4); }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("The current MMS packet failed - Closing now")) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), 5u);
       }},
      {"a header whose Header Object claims 4 GiB: refused before anything is written",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x11) + 1], 8 + 16 + 4, 1); }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("- Header extraction failed, cannot continue")) << p.Log();
         EXPECT_EQ(p.Count(mcFatal), 1);
         EXPECT_FALSE(p.Sent(0x33));
         EXPECT_EQ(p.saved.headerLength, 0u);
       }},
      {"a header whose Header Object claims 10 bytes",
       [](MmsScript& s) { MmsScript::Store32(s.units[s.Find(0x11) + 1], 8 + 16, 10); }, nullptr,
       [](const Played& p) {
         EXPECT_TRUE(p.Posted("- Header extraction failed, cannot continue")) << p.Log();
         EXPECT_EQ(p.saved.headerLength, 0u);
       }},
      {"closes in the middle of the header: nothing is saved", nullptr,
       [](const MmsScript& s) {
         size_t bytes = 0;
         for (size_t i = 0; i <= s.Find(0x11); ++i) bytes += s.units[i].size();
         return bytes + s.units[s.Find(0x11) + 1].size() / 2;
       },
       [](const Played& p) {
         EXPECT_FALSE(p.Posted("- Header received and saving")) << p.Log();
         EXPECT_TRUE(p.Posted("The server closed the connection before the stream began"));
         EXPECT_EQ(p.saved.headerLength, 0u);
       }},
  };
  for (const Misbehaviour& row : rows) {
    SCOPED_TRACE(row.what);
    MmsScript script = clip;
    if (row.edit) row.edit(script);
    row.expect(Play(script, row.cutAfter ? row.cutAfter(script) : std::string::npos));
  }
}

// Every reply can carry a failure code; each ends the session with the error table's text.
TEST(MmsScript, AFailureCodeOnAnyReplyEndsTheSessionWithItsText) {
  for (uint8_t id : {0x01, 0x15, 0x02, 0x06, 0x11, 0x21, 0x05}) {
    SCOPED_TRACE(static_cast<int>(id));
    MmsScript script = MmsScript::ForClip("clip.wmv");
    MmsScript::Store32(script.units[script.Find(id)], 40, 0x80070005);
    const Played p = Play(script);
    EXPECT_TRUE(p.Posted("Server Error Message : You do not have access to the location or file"))
        << p.Log();
    EXPECT_EQ(p.Count(mcFatal), 1) << p.Log();
    EXPECT_EQ(p.Count(mcStarted | mcCompleted), 0);
    EXPECT_TRUE(p.saved.packets.empty());
  }
}

// Over UDP the media comes as datagrams: a copy of a packet already saved, a number the clip
// cannot have, or a header nobody asked for must not change the file.
TEST(MmsScript, DatagramsTheFileMustNotTake) {
  const MmsScript clip = MmsScript::ForClip("clip.wmv");
  const auto packets = clip.clip.packets.size();
  const Misbehaviour rows[] = {
      {"every packet as a datagram", nullptr, nullptr,
       [packets](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), packets);
       }},
      {"a second copy of packet 2 with other bytes",
       [](MmsScript& s) {
         Unit copy = s.units[s.FindMedia(2)];
         std::fill(copy.begin() + 8, copy.end(), 0x5A);
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(5)), copy);
       },
       nullptr,
       [packets](const Played& p) {
         EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
         EXPECT_EQ(p.saved.packets.size(), packets);
       }},
      {"a number far past the clip's end",
       [](MmsScript& s) {
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(3)),
                        MmsScript::Media(50000, s.clip.packets[0]));
       },
       nullptr,
       [packets](const Played& p) {
         EXPECT_TRUE(p.Posted("Warning, a packet with an invalid index was dropped: 50000"))
             << p.Log();
         EXPECT_EQ(p.saved.packets.size(), packets);
       }},
      {"a header nobody asked for: nothing after it reaches the file",
       [](MmsScript& s) {
         const Unit piece = s.units[s.Find(0x11) + 1];
         s.units.insert(s.units.begin() + static_cast<std::ptrdiff_t>(s.FindMedia(4)), piece);
       },
       nullptr,
       [](const Played& p) {
         EXPECT_TRUE(
             p.Posted("Warning, a stream header arrived unasked: media after it is not "
                      "saved into this file"))
             << p.Log();
         EXPECT_EQ(p.Count(mcCompleted), 1);
         EXPECT_EQ(p.saved.packets.size(), 4u);
       }},
  };
  for (const Misbehaviour& row : rows) {
    SCOPED_TRACE(row.what);
    MmsScript script = clip;
    if (row.edit) row.edit(script);
    const Played p = Play(script, std::string::npos, {}, true);
    const size_t same = Equal(p.saved, clip.clip);
    EXPECT_EQ(same, p.saved.packets.size()) << "a saved packet differs from the source's";
    if (row.expect) row.expect(p);
  }
}

TEST(MmsScript, APasswordChallengeIsAnsweredAndTheFileNumberMovesOn) {
  MmsScript script = MmsScript::ForClip("clip.wmv");
  // The server asks for a password instead of opening the file, then opens it.
  std::vector<uint8_t> challenge(16, 0);
  const char realm[] = "realm=\"qor\"";
  for (size_t i = 0; i < sizeof realm - 1; ++i) challenge.push_back(static_cast<uint8_t>(realm[i]));
  script.units.insert(script.units.begin() + static_cast<std::ptrdiff_t>(script.Find(0x06)),
                      MmsScript::Reply(0x1A, 0, 0, challenge));
  for (bool give : {true, false}) {
    SCOPED_TRACE(give);
    std::string askedHost;
    SessionPrompts prompts;
    prompts.AskMmsCredentials = [&](const std::string& host, const std::string&) {
      askedHost = host;
      return give ? std::optional<std::string>("YW5uOnNlY3JldA==") : std::nullopt;
    };
    const Played p = Play(script, std::string::npos, prompts);
    EXPECT_EQ(askedHost, "127.0.0.1");
    if (give) {
      EXPECT_EQ(p.Count(mcCompleted), 1) << p.Log();
      EXPECT_TRUE(p.Sent(0x1A));
      EXPECT_EQ(p.startFileNumber, 2u);
    } else {
      EXPECT_TRUE(p.Posted("Session aborted, connection now closing")) << p.Log();
      EXPECT_FALSE(p.Sent(0x07));
    }
  }
}

}  // namespace
}  // namespace qor::testing
