// The location client against scripted servers on loopback: what it sends, how it reads and acts
// on what comes back, its failures and their texts, and that the window keeps running meanwhile.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "common/script_server.h"
#include "platform/window_thread.h"

namespace qor {
namespace {

using test::Reply;
using test::Script;
using test::ScriptServer;

const char kAccepts[] =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const char kContentType[] = "Content-type: application/x-www-form-urlencoded\r\n";

std::string Site(const ScriptServer& server) {
  return "http://127.0.0.1:" + std::to_string(server.Port());
}

ScriptServer::Responder Always(Script script) {
  return [script](int, const std::string&) { return script; };
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.TimeOut = 20000;
    client.OnAboutToSend = [this](TSocketClient*) { events.push_back("AboutToSend"); };
    client.OnConnect = [this](TSocketClient*) { events.push_back("Connect"); };
    client.OnConnectionFailed = [this](TSocketClient*) { events.push_back("ConnectionFailed"); };
    client.OnInvalidHost = [this](bool&) { events.push_back("InvalidHost"); };
    client.OnSuccess = [this](int32_t c) { events.push_back("Success " + std::to_string(c)); };
    client.OnFailure = [this](int32_t c) { events.push_back("Failure " + std::to_string(c)); };
    client.OnRedirect = [this](bool&) { events.push_back("Redirect"); };
    client.OnAuthenticationNeeded = [this](TSocketClient*) { events.push_back("Auth"); };
  }

  // The error text Get raised, or "" when it returned.
  std::string GetError(const std::string& url) {
    try {
      client.Get(url);
    } catch (const ESocketError& error) {
      return error.what();
    }
    return "";
  }

  int Count(const std::string& event) const {
    int n = 0;
    for (const std::string& e : events) n += e == event ? 1 : 0;
    return n;
  }

  WindowThread window;  // the test's thread is the window thread
  THttpClient client;
  std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST_F(HttpClientTest, StartsWithPlaceholderTextsAndNoTimeOut) {
  THttpClient fresh;
  EXPECT_EQ(fresh.Body, "Default.htm");
  EXPECT_EQ(fresh.Header, "Head.txt");
  EXPECT_EQ(fresh.TimeOut, 0u);
  EXPECT_EQ(fresh.Port, 80);
  EXPECT_FALSE(fresh.Connected());
}

TEST_F(HttpClientTest, DirectRequestLinesAndAPlainAnswer) {
  ScriptServer server(Always(Reply("HTTP/1.0 200 OK", {"Content-Type: text/plain"}, "hello")));
  EXPECT_EQ(GetError(Site(server) + "/dir/list.asx?a=1"), "");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], std::string("GET /dir/list.asx?a=1 HTTP/1.0\r\n") +
                                      "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n" +
                                      kAccepts + kContentType + "\r\n");
  EXPECT_EQ(client.Header, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  EXPECT_EQ(client.Body, "hello");
  EXPECT_EQ(client.StatusCode(), 200);
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Success 0"}));
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, OptionalLinesInTheirOrder) {
  ScriptServer server(Always(Reply("HTTP/1.0 200 OK")));
  client.HeaderInfo.LocalMailAddress = "agent@example";
  client.HeaderInfo.LocalProgram = "Qor";
  client.HeaderInfo.Cookie = "id=7";
  client.HeaderInfo.Referer = "http://ref.example/\r\nX-Injected: 1";
  client.SetCredentials("user", "pa:ss");
  EXPECT_EQ(GetError(Site(server)), "");
  EXPECT_EQ(server.Requests()[0], std::string("GET / HTTP/1.0\r\nHost: 127.0.0.1:") +
                                      std::to_string(server.Port()) + "\r\n" + kAccepts +
                                      "User-Agent: agent@example\r\nFrom: Qor\r\nCookie: id=7\r\n"
                                      "Referer: http://ref.example/X-Injected: 1\r\n"
                                      "Authorization: Basic dXNlcjpwYTpzcw==\r\n" +
                                      kContentType + "\r\n");
  EXPECT_EQ(client.CurrentUrl(), Site(server) + "/");
  EXPECT_EQ(client.Path(), "/");
}

TEST_F(HttpClientTest, CredentialsNeedBothValues) {
  ScriptServer server(Always(Reply("HTTP/1.0 200 OK")));
  client.SetCredentials("user", "");
  EXPECT_EQ(GetError(Site(server) + "/a"), "");
  EXPECT_EQ(server.Requests()[0].find("Authorization"), std::string::npos);
}

TEST_F(HttpClientTest, ProxyFormNamesTheWholeLocation) {
  ScriptServer proxy(Always(Reply("HTTP/1.0 200 OK", {}, "via proxy")));
  client.Proxy = "127.0.0.1";
  client.ProxyPort = proxy.Port();
  // The target name is only written into the request; the proxy resolves it.
  EXPECT_EQ(GetError("http://media.example.invalid:8080/live/list.asx"), "");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0],
            std::string("GET http://media.example.invalid:8080/live/list.asx HTTP/1.0\r\n") +
                "Proxy-Connection: Keep-Alive\r\nHost: media.example.invalid:8080\r\n" + kAccepts +
                kContentType + "\r\n");
  EXPECT_EQ(client.Body, "via proxy");
  EXPECT_EQ(client.Port, 8080);
}

TEST_F(HttpClientTest, CredentialsInTheLocationGoToItsServerAndNeverIntoARequestLine) {
  ScriptServer proxy(Always(Reply("HTTP/1.0 200 OK")));
  client.Proxy = "127.0.0.1";
  client.ProxyPort = proxy.Port();
  EXPECT_EQ(GetError("http://ann:s3:cret@media.example.invalid/list.asx"), "");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string request = proxy.Requests()[0];
  EXPECT_EQ(request.rfind("GET http://media.example.invalid/list.asx HTTP/1.0\r\n", 0), 0u)
      << request;
  EXPECT_NE(request.find("Authorization: Basic YW5uOnMzOmNyZXQ=\r\n"), std::string::npos);
  EXPECT_EQ(client.CurrentUrl().find("s3:cret"), std::string::npos);
  // Credentials a redirection writes are the server's choice: they go nowhere.
  ScriptServer redirecting([](int n, const std::string&) {
    return n == 0 ? Reply("HTTP/1.0 302 Found", {"Location: http://eve:pw@other.invalid/x"})
                  : Reply("HTTP/1.0 200 OK");
  });
  client.ProxyPort = redirecting.Port();
  EXPECT_EQ(GetError("http://media.example.invalid/list.asx"), "");
  ASSERT_EQ(redirecting.Requests().size(), 2u);
  EXPECT_EQ(redirecting.Requests()[1].find("Authorization"), std::string::npos);
}

TEST_F(HttpClientTest, ProxyGivenByNameIsLookedUp) {
  ScriptServer proxy(Always(Reply("HTTP/1.0 200 OK")));
  client.Proxy = "localhost";
  client.ProxyPort = proxy.Port();
  EXPECT_EQ(GetError("http://media.example.invalid/x.asx"), "");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("GET http://media.example.invalid/x.asx HTTP/1.0\r\n", 0),
            0u);
}

TEST_F(HttpClientTest, BodyEndsAtContentLengthEvenIfTheServerStaysOpen) {
  // Without the length the read would wait for a close that never comes.
  client.TimeOut = 60000;
  Script script = Reply("HTTP/1.0 200 OK", {"Content-Length: 10"}, "0123456789trailing");
  script.Hang();
  ScriptServer server(Always(script));
  EXPECT_EQ(GetError(Site(server) + "/f"), "");
  EXPECT_EQ(client.Body, "0123456789");
}

TEST_F(HttpClientTest, BodyWithoutLengthRunsUntilCloseAcrossSplitWrites) {
  Script script;
  script.Send("HTTP/1.0 2").Delay(30).Send("00 OK\r\nServer: t\r").Delay(30).Send("\n\r\nfirst ");
  script.Delay(50).Send("second ").Delay(50).Send("third");
  ScriptServer server(Always(script));
  EXPECT_EQ(GetError(Site(server) + "/f"), "");
  EXPECT_EQ(client.Header, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\n");
  EXPECT_EQ(client.Body, "first second third");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Success 0"}));
}

TEST_F(HttpClientTest, BodyAndHeaderAreOnlyTheLastResponse) {
  ScriptServer server([](int index, const std::string&) {
    return index == 0 ? Reply("HTTP/1.0 200 OK", {}, "a long first body")
                      : Reply("HTTP/1.0 200 OK", {"X: 2"}, "second");
  });
  EXPECT_EQ(GetError(Site(server) + "/1"), "");
  EXPECT_EQ(GetError(Site(server) + "/2"), "");
  EXPECT_EQ(client.Body, "second");
  EXPECT_EQ(client.Header, "HTTP/1.0 200 OK\r\nX: 2\r\n\r\n");
}

TEST_F(HttpClientTest, ErrorStatusIsNoErrorButAFailureEvent) {
  ScriptServer server(Always(Reply("HTTP/1.0 404 Not Found", {}, "<html>gone</html>")));
  EXPECT_EQ(GetError(Site(server) + "/missing.asx"), "");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Failure 0"}));
  EXPECT_EQ(client.StatusCode(), 404);
  EXPECT_EQ(client.Header, "HTTP/1.0 404 Not Found\r\n\r\n");
  EXPECT_EQ(client.Body, "<html>gone</html>");
}

TEST_F(HttpClientTest, AnswersWithoutAStatusAreNotSuccesses) {
  ScriptServer garbage(Always(Reply("<html><body>hello")));
  EXPECT_EQ(GetError(Site(garbage) + "/"), "");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Failure 0"}));

  events.clear();
  ScriptServer silent(Always(Script()));  // closes without a byte
  EXPECT_EQ(GetError(Site(silent) + "/"), "");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Failure 0"}));
  EXPECT_EQ(client.Header, "");
  EXPECT_EQ(client.Body, "");
}

TEST_F(HttpClientTest, RedirectionsAbsoluteRelativeAndBare) {
  ScriptServer target(Always(Reply("HTTP/1.0 200 OK", {}, "final")));
  std::string targetUrl = Site(target) + "/end.asx";
  ScriptServer origin([&](int index, const std::string&) {
    switch (index) {
      case 0:
        return Reply("HTTP/1.0 302 Found", {"Location: /step/two.asx"}, "moved");
      case 1:
        return Reply("HTTP/1.0 301 Moved", {"location: three.asx"});
      default:
        return Reply("HTTP/1.0 300 Choices", {"LOCATION: " + targetUrl});
    }
  });
  EXPECT_EQ(GetError(Site(origin) + "/one.asx"), "");
  std::vector<std::string> asked = origin.Requests();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].substr(0, asked[0].find("\r\n")), "GET /one.asx HTTP/1.0");
  EXPECT_EQ(asked[1].substr(0, asked[1].find("\r\n")), "GET /step/two.asx HTTP/1.0");
  // A bare name is taken from the root of the same server, port included.
  EXPECT_EQ(asked[2].substr(0, asked[2].find("\r\n")), "GET /three.asx HTTP/1.0");
  ASSERT_EQ(target.Requests().size(), 1u);
  EXPECT_EQ(target.Requests()[0].substr(0, 25), "GET /end.asx HTTP/1.0\r\nHo");
  EXPECT_EQ(client.Body, "final");
  EXPECT_EQ(client.CurrentUrl(), targetUrl);
  EXPECT_EQ(events,
            (Events{"AboutToSend", "Connect", "Redirect", "AboutToSend", "Connect", "Redirect",
                    "AboutToSend", "Connect", "Redirect", "AboutToSend", "Connect", "Success 0"}));
}

TEST_F(HttpClientTest, RedirectHandledByTheCallerStops) {
  ScriptServer server(Always(Reply("HTTP/1.0 302 Found", {"Location: /elsewhere"})));
  client.OnRedirect = [this](bool& handled) {
    events.push_back("Redirect");
    handled = true;
  };
  EXPECT_EQ(GetError(Site(server) + "/a"), "");
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(client.CurrentUrl(), "/elsewhere");
}

TEST_F(HttpClientTest, RedirectionCycleEndsAfterTen) {
  ScriptServer server(Always(Reply("HTTP/1.0 302 Found", {"Location: /again"})));
  EXPECT_EQ(GetError(Site(server) + "/start"), "Too many redirections");
  EXPECT_EQ(server.Connections(), 11);
  EXPECT_EQ(Count("Redirect"), 10);
  EXPECT_EQ(Count("AboutToSend"), 11);
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, OtherRedirectStatusesAreNotFollowed) {
  for (const char* status : {"HTTP/1.0 299 Odd", "HTTP/1.0 303 See Other", "HTTP/1.0 307 Temporary",
                             "HTTP/1.0 302 Found"}) {
    events.clear();
    // The 302 has no target, so there is nothing to follow either.
    std::vector<std::string> headers;
    if (std::string(status).find("302") == std::string::npos) headers = {"Location: /next"};
    ScriptServer server(Always(Reply(status, headers, "body")));
    EXPECT_EQ(GetError(Site(server) + "/a"), "") << status;
    EXPECT_EQ(server.Connections(), 1) << status;
    EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Failure 0"})) << status;
    EXPECT_EQ(client.Body, "body");
  }
}

TEST_F(HttpClientTest, AuthenticationThenCredentialsOnlyForThatServer) {
  ScriptServer other(Always(Reply("HTTP/1.0 200 OK", {}, "other")));
  std::string otherUrl = Site(other) + "/b.asx";
  ScriptServer guarded([&](int index, const std::string& request) {
    if (request.find("Authorization: Basic dXNlcjpzZWNyZXQ=\r\n") == std::string::npos) {
      return Reply("HTTP/1.0 401 Unauthorized", {"WWW-Authenticate: Basic realm=\"r\""});
    }
    if (index == 1) {
      return Reply("HTTP/1.0 302 Found", {"Set-Cookie: s=1", "Location: /second.asx"});
    }
    return Reply("HTTP/1.0 302 Found", {"Location: " + otherUrl});
  });
  EXPECT_EQ(GetError(Site(guarded) + "/a.asx"), "");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect", "Failure 0", "Auth"}));
  EXPECT_EQ(client.StatusCode(), 401);

  client.SetCredentials("user", "secret");
  events.clear();
  EXPECT_EQ(GetError(Site(guarded) + "/a.asx"), "");
  EXPECT_EQ(client.Body, "other");
  std::vector<std::string> asked = guarded.Requests();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_NE(asked[2].find("Cookie: s=1\r\n"), std::string::npos);
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_EQ(other.Requests()[0].find("Authorization"), std::string::npos);
  EXPECT_EQ(other.Requests()[0].find("Cookie"), std::string::npos);
  // Both stay with the client for the server they belong to.
  EXPECT_EQ(client.HeaderInfo.Cookie, "s=1");
  EXPECT_EQ(client.HeaderInfo.UserId, "user");

  // A later fetch from a different server does not carry them either.
  EXPECT_EQ(GetError(otherUrl), "");
  ASSERT_EQ(other.Requests().size(), 2u);
  EXPECT_EQ(other.Requests()[1].find("Authorization"), std::string::npos);
}

TEST_F(HttpClientTest, RefusedConnection) {
  test::RefusingPort port;
  EXPECT_EQ(GetError("http://127.0.0.1:" + std::to_string(port.Port()) + "/x"),
            "Connection Failed");
  EXPECT_EQ(events, (Events{"AboutToSend", "ConnectionFailed"}));
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, ConnectionThatIsNeverAnsweredTimesOut) {
  test::FullListener listener;
  client.TimeOut = 300;
  EXPECT_EQ(GetError("http://127.0.0.1:" + std::to_string(listener.Port()) + "/x"),
            "Connection Timed out");
  EXPECT_EQ(events, (Events{"AboutToSend", "ConnectionFailed"}));
}

TEST_F(HttpClientTest, ServerThatNeverAnswersTimesOut) {
  ScriptServer server(Always(Script().Hang()));
  client.TimeOut = 300;
  // The wait sleeps until something happens: it does not look again every few milliseconds.
  int wakes = 0;
  client.OnWait = [&wakes] { ++wakes; };
  EXPECT_EQ(GetError(Site(server) + "/x"), "Socket readln aborted");
  EXPECT_EQ(events, (Events{"AboutToSend", "Connect"}));
  EXPECT_TRUE(server.WaitForClientClose());
  EXPECT_LT(wakes, 10);
}

TEST_F(HttpClientTest, StalledBodyTimesOut) {
  Script script = Reply("HTTP/1.0 200 OK", {}, "part");
  script.Hang();
  ScriptServer server(Always(script));
  client.TimeOut = 300;
  EXPECT_EQ(GetError(Site(server) + "/x"), "Socket capture aborted");
  EXPECT_EQ(client.Body, "part");
}

TEST_F(HttpClientTest, TimeOutRestartsForEachBodyChunk) {
  // Four gaps of 300 ms each: longer in total than the time-out, much shorter one by one.
  Script script = Reply("HTTP/1.0 200 OK", {}, "a");
  script.Delay(300).Send("b").Delay(300).Send("c").Delay(300).Send("d").Delay(300).Send("e");
  ScriptServer server(Always(script));
  client.TimeOut = 1000;
  EXPECT_EQ(GetError(Site(server) + "/x"), "");
  EXPECT_EQ(client.Body, "abcde");
}

TEST_F(HttpClientTest, SecureLocationsAreRefusedAtOnce) {
  EXPECT_EQ(GetError("https://secure.example/list.asx"), "HTTP Secure Socket is not supported");
  EXPECT_EQ(GetError(""), "Empty URL");
  EXPECT_TRUE(events.empty());
}

TEST_F(HttpClientTest, UnresolvableNameRaisesInvalidHostOnce) {
  EXPECT_EQ(GetError("http://no-such-host.invalid/list.asx"), "Null Remote Address");
  EXPECT_EQ(events, (Events{"AboutToSend", "InvalidHost"}));

  // A handler that asks for another try gets one lookup more, not another event.
  events.clear();
  int calls = 0;
  client.OnInvalidHost = [&](bool& handled) {
    ++calls;
    handled = true;
  };
  EXPECT_EQ(GetError("http://no-such-host.invalid/list.asx"), "Null Remote Address");
  EXPECT_EQ(calls, 1);
}

TEST_F(HttpClientTest, OversizedHeadersAreRefused) {
  std::vector<std::string> many(kMaxHeaderLines, "X-Filler: 1");
  ScriptServer tooMany(Always(Reply("HTTP/1.0 200 OK", many, "body")));
  EXPECT_EQ(GetError(Site(tooMany) + "/"), "HTTP response header too large");

  ScriptServer tooLong(
      Always(Reply("HTTP/1.0 200 OK", {"X-Big: " + std::string(70000, 'b')}, "body")));
  EXPECT_EQ(GetError(Site(tooLong) + "/"), "HTTP response header too large");
  EXPECT_FALSE(client.Connected());

  // 198 header lines with the status line and the empty line make the 200 allowed.
  std::vector<std::string> most(kMaxHeaderLines - 2, "X-Filler: 1");
  ScriptServer fits(Always(Reply("HTTP/1.0 200 OK", most, "body")));
  EXPECT_EQ(GetError(Site(fits) + "/"), "");
  EXPECT_EQ(client.Body, "body");
}

TEST_F(HttpClientTest, OversizedBodiesAreRefused) {
  ScriptServer announced(Always(Reply("HTTP/1.0 200 OK", {"Content-Length: 16777217"}, "x")));
  EXPECT_EQ(GetError(Site(announced) + "/"), "HTTP response body too large");

  ScriptServer endless(Always(Reply("HTTP/1.0 200 OK", {}, std::string(kMaxBodyBytes + 1, 'z'))));
  EXPECT_EQ(GetError(Site(endless) + "/"), "HTTP response body too large");
  EXPECT_EQ(client.Body.size(), kMaxBodyBytes);

  ScriptServer exact(Always(Reply("HTTP/1.0 200 OK", {}, std::string(kMaxBodyBytes, 'y'))));
  EXPECT_EQ(GetError(Site(exact) + "/"), "");
  EXPECT_EQ(client.Body.size(), kMaxBodyBytes);
}

TEST_F(HttpClientTest, WindowTimersAndHandoversRunDuringAFetch) {
  // The server answers only once the window has ticked and served a worker's handover; both can
  // only happen inside Get, since this thread is in it the whole time.
  std::atomic<int> ticks{0};
  std::atomic<bool> handed{false};
  ScriptServer server([&](int, const std::string&) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((ticks < 5 || !handed) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Reply("HTTP/1.0 200 OK", {}, "slow body");
  });
  TTimer timer(&window);
  timer.SetInterval(10);
  timer.OnTimer = [&] { ++ticks; };
  std::thread worker([&] { Synchronize([&] { handed = true; }); });
  int waits = 0;
  client.OnWait = [&] { ++waits; };
  client.TimeOut = 60000;
  EXPECT_EQ(GetError(Site(server) + "/"), "");
  worker.join();
  EXPECT_EQ(client.Body, "slow body");
  EXPECT_GE(ticks, 5);
  EXPECT_TRUE(handed);
  EXPECT_GT(waits, 0);
}

TEST_F(HttpClientTest, DisconnectFromATimerCancelsTheRunningStep) {
  ScriptServer silent(Always(Script().Hang()));
  TTimer timer(&window);
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    client.Disconnect();
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetError(Site(silent) + "/"), "Socket readln aborted");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_TRUE(silent.WaitForClientClose());

  Script partial = Reply("HTTP/1.0 200 OK", {}, "some");
  partial.Hang();
  ScriptServer stalled(Always(partial));
  timer.SetEnabled(true);
  EXPECT_EQ(GetError(Site(stalled) + "/"), "Socket capture aborted");
  EXPECT_FALSE(client.Connected());

  // The client is usable again afterwards.
  ScriptServer fine(Always(Reply("HTTP/1.0 200 OK", {}, "ok")));
  EXPECT_EQ(GetError(Site(fine) + "/"), "");
  EXPECT_EQ(client.Body, "ok");
}

TEST_F(HttpClientTest, DisconnectFromAnotherThreadCancels) {
  ScriptServer silent(Always(Script().Hang()));
  std::thread canceller([&] {
    // Once the whole request has arrived the client can only be waiting for the answer.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (silent.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    client.Disconnect();
  });
  EXPECT_EQ(GetError(Site(silent) + "/"), "Socket readln aborted");
  canceller.join();
}

TEST_F(HttpClientTest, DisconnectInAnEventCancelsTheNextStep) {
  ScriptServer server(Always(Reply("HTTP/1.0 200 OK")));
  std::string port = std::to_string(server.Port());
  client.OnAboutToSend = [this](TSocketClient*) { client.Disconnect(); };
  EXPECT_EQ(GetError("http://127.0.0.1:" + port + "/"), "Connection Canceled");
  EXPECT_EQ(GetError("http://localhost:" + port + "/"), "Host Lookup Canceled");
  client.OnAboutToSend = nullptr;
  client.OnConnect = [this](TSocketClient*) { client.Disconnect(); };
  EXPECT_EQ(GetError("http://127.0.0.1:" + port + "/"), "Socket Error # 10004 (interrupted)");
  client.OnConnect = nullptr;
  EXPECT_EQ(GetError("http://localhost:" + port + "/"), "");
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(HttpClientTest, AGetInsideAGetIsRefused) {
  Script script = Reply("HTTP/1.0 200 OK", {}, "a");
  script.Delay(200).Send("b");
  ScriptServer server(Always(script));
  std::string inner;
  TTimer timer(&window);
  timer.SetInterval(20);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    try {
      client.Get(Site(server) + "/inner");
    } catch (const ESocketError& error) {
      inner = error.what();
    }
  };
  EXPECT_EQ(GetError(Site(server) + "/outer"), "");
  EXPECT_EQ(inner, "Already connected");
  EXPECT_EQ(client.Body, "ab");
}

TEST_F(HttpClientTest, ResetWhileReadingIsASocketError) {
  Script script = Reply("HTTP/1.0 200 OK", {}, "partial");
  script.Delay(50).Reset();
  ScriptServer server(Always(script));
  EXPECT_EQ(GetError(Site(server) + "/"), "Socket Error # 10054 (connection reset by the server)");
}

}  // namespace
}  // namespace qor
