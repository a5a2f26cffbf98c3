// Fast delivery on the server's side: what a client is granted and when each packet is then due,
// and an RTSP PLAY's Speed answered with what the title allows.

#include <gtest/gtest.h>

#include "delivery_pace.h"
#include "server_test_support.h"

namespace qor::server::testing {
namespace {

using std::chrono::milliseconds;

TEST(Delivery, TheStartComesFirstThenTheRestAtTheGrantedSpeedAndLiveNeverFaster) {
  const DeliveryAsk ask{100, 2000000, 5000};
  const DeliveryLimits limits{5, 2};
  const DeliveryGrant live = GrantDelivery(ask, true, limits, 100000);
  EXPECT_EQ(live.speed, 1);
  EXPECT_EQ(live.burstMs, 0u);
  // A 100 kbit/s clip: two seconds at 2 Mbit/s (20 times), the rest at five times.
  const DeliveryGrant grant = GrantDelivery(ask, false, limits, 100000);
  const auto t0 = DeliveryPacer::Clock::now();
  const DeliveryPacer pacer(1, grant, t0, 1000);
  EXPECT_EQ(*pacer.Due(1000) - t0, milliseconds(0));
  EXPECT_EQ(*pacer.Due(3000) - t0, milliseconds(100));
  EXPECT_EQ(*pacer.Due(8000) - t0, milliseconds(1100));
  // At --rate 2 everything takes half as long; at 0 nothing waits.
  EXPECT_EQ(*DeliveryPacer(2, grant, t0, 1000).Due(8000) - t0, milliseconds(550));
  EXPECT_FALSE(DeliveryPacer(0, grant, t0, 1000).Due(8000).has_value());
}

TEST(Delivery, AnRtspPlaysSpeedIsAnsweredWithWhatTheTitleAllows) {
  QOR_NEED_SAMPLES();
  ServerOptions options = TestServer::Defaults();
  options.rtspPort = 0;
  options.lives.push_back({"show", {SampleDir() + "/clip.wmv"}});
  TestServer server(options);
  const std::string base = "rtsp://127.0.0.1:" + std::to_string(server.Get().RtspPort()) + "/";
  struct Row {
    const char* title;
    const char* asked;
    const char* answered;
  };
  for (const Row& row : {Row{"clip.wmv", "3", "Speed: 3.000"},
                         Row{"clip.wmv", "20", "Speed: 5.000"}, Row{"show", "3", "Speed: 1.000"}}) {
    SCOPED_TRACE(std::string(row.title) + " at " + row.asked);
    TcpClient client(server.Get().RtspPort());
    ASSERT_TRUE(client.Connected());
    const auto answer = [&](const std::string& cseq) {
      for (;;) {
        const std::string text(client.Received().begin(), client.Received().end());
        const size_t at = text.find("CSeq: " + cseq + "\r\n");
        const size_t end = at == std::string::npos ? at : text.find("\r\n\r\n", at);
        if (end != std::string::npos) {
          const size_t start = text.rfind("RTSP/1.0 ", at);
          return text.substr(start, end + 4 - start);
        }
        if (!client.ReadAtLeast(client.Received().size() + 1, milliseconds(5000))) return text;
      }
    };
    client.Send("DESCRIBE " + base + row.title + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    answer("1");
    client.Send("SETUP " + base + row.title + "/stream=1 RTSP/1.0\r\nCSeq: 2\r\n" +
                "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    const std::string setup = answer("2");
    const size_t session = setup.find("Session: ");
    ASSERT_NE(session, std::string::npos) << setup;
    const std::string id =
        setup.substr(session + 9, setup.find_first_of(";\r", session) - session - 9);
    client.Send("PLAY " + base + row.title + " RTSP/1.0\r\nCSeq: 3\r\nSession: " + id +
                "\r\nSpeed: " + row.asked + "\r\n\r\n");
    const std::string play = answer("3");
    EXPECT_NE(play.find("RTSP/1.0 200"), std::string::npos) << play;
    EXPECT_NE(play.find(std::string(row.answered) + "\r\n"), std::string::npos) << play;
  }
}

}  // namespace
}  // namespace qor::server::testing
