// The command line's parse and the terminal output, in-process.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/download_location.h"
#include "app/options_dialog.h"
#include "cli/cli_options.h"
#include "cli/terminal_output.h"

namespace qor::cli {
namespace {

ParseResult Parse(const std::vector<std::string>& args) {
  return ParseCommandLine(args);
}

TEST(CliParse, FlagsFillTheRunsOptions) {
  const ParseResult r = Parse({"get", "mms://h/x", "--protocol=UDP", "--udp-port", "7010",
                               "--proxy", "proxy.lan:3128", "--offset", "00:01:30", "--bypass-dns",
                               "-o", "x.wma", "--resume", "--user", "ann", "--password", "pw"});
  ASSERT_EQ(r.error, "");
  const CliOptions& o = r.options;
  EXPECT_EQ(o.command, Command::Get);
  EXPECT_EQ(o.url, "mms://h/x");
  EXPECT_EQ(o.protocol, "UDP");
  EXPECT_EQ(o.udpPort, "7010");
  EXPECT_EQ(o.proxyHost, "proxy.lan");
  EXPECT_EQ(o.proxyPort, "3128");
  EXPECT_EQ(o.offset, "00:01:30");
  EXPECT_TRUE(o.bypassDns);
  EXPECT_EQ(o.output, "x.wma");
  EXPECT_TRUE(o.resume);
  EXPECT_EQ(o.user, "ann");
  EXPECT_EQ(o.password, "pw");
}

TEST(CliParse, SchemeChoosesTheTransport) {
  EXPECT_EQ(TransportOfScheme("mmsu://h/x"), kProtoUdp);
  EXPECT_EQ(TransportOfScheme("MMST://h/x"), kProtoTcp);
  EXPECT_EQ(TransportOfScheme("http://h/x"), kProtoHttp);
  EXPECT_EQ(TransportOfScheme("MMSH://h/x"), kProtoHttp);
  EXPECT_EQ(TransportOfScheme("mms://h/x"), std::nullopt);
  EXPECT_EQ(TransportOfScheme("https://h/x"), std::nullopt);
}

TEST(CliParse, ErrorsNameTheFlag) {
  EXPECT_EQ(Parse({"get", "u", "--udp-port", "0"}).error,
            "--udp-port must be a port number from 1 to 65535");
  EXPECT_EQ(Parse({"get", "u", "--log"}).error, "--log needs a value");
  EXPECT_EQ(Parse({"info", "f", "-o", "x.asf"}).error, "-o is not a flag of this command");
  EXPECT_EQ(Parse({"get", "u", "-x"}).error, "unknown flag '-x'");
  EXPECT_TRUE(Parse({"get", "--help"}).options.help);
}

TEST(TerminalOutputTest, ProgressLineAndColours) {
  ProgressValues v;
  v.time = "00 : 00 : 05";
  v.packets = 120;
  v.bytesPerSecond = 2048;
  EXPECT_EQ(ProgressText(v), "00 : 00 : 05  120 packets  2.0 KiB/s");
  v.percent = 42;
  EXPECT_EQ(ProgressText(v), "42%  00 : 00 : 05  120 packets  2.0 KiB/s");
  EXPECT_EQ(ColourSequence(clBlack), "");
  EXPECT_EQ(ColourSequence(clRed), "\x1b[38;2;255;0;0m");

  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&buffer, &size);
  ASSERT_NE(stream, nullptr);
  {
    TerminalOutput terminal(stream, true, true);
    terminal.Progress(v);
    terminal.LogLine("> fatal", clRed);
    terminal.EndProgress();
    TerminalOutput plain(stream, false, false);
    plain.Progress(v);
    plain.LogLine("> plain", clRed);
  }
  std::fclose(stream);
  const std::string text(buffer, size);
  std::free(buffer);
  EXPECT_EQ(text,
            "42%  00 : 00 : 05  120 packets  2.0 KiB/s\r\x1b[2K\x1b[38;2;255;0;0m> fatal\x1b[0m\n"
            "> plain\n");
}

}  // namespace
}  // namespace qor::cli
