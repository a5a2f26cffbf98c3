#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "app/browser_proxy.h"
#include "app/convert_error.h"
#include "app/date_time_text.h"
#include "app/options_dialog.h"
#include "dialogs_store.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

using Options = StoreTest;

const std::map<std::string, std::string> kDefaultsWritten{
    {"AutoPlay", "off"},      {"AutoLog", "off"},         {"OffsetTime", "00:00:00"},
    {"HTTPPort", "80"},       {"TCPPort", "1755"},        {"UDPPort", "7000"},
    {"MaxUDPSize", "32000"},  {"MaxNetworkRate", "2"},    {"MmsProxyUrl", ""},
    {"MmsProxyPort", "1755"}, {"HttpProxyUrl", ""},       {"HttpProxyPort", "80"},
    {"ProtoSelected", "TCP"}, {"UseMaxRate", "off"},      {"DNSState", "Lookup"},
    {"UseMmsProxy", "off"},   {"UseHttpProxy", "off"},    {"ConnectTimeout", "20"},
    {"AnswerTimeout", "20"},  {"FirstDataTimeout", "30"}, {"StallTimeout", "30"},
    {"FastDelivery", "on"},
};

TEST_F(Options, AnEmptyStoreGivesTheDefaultsAndClosingStoresThem) {
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  EXPECT_FALSE(dialog.AutoPlayTick.Checked);
  EXPECT_FALSE(dialog.AutoLogTick.Checked);
  EXPECT_EQ(dialog.OffsetTime, 0);
  EXPECT_EQ(dialog.HTTPPort.Text, "80");
  EXPECT_EQ(dialog.TCPPort.Text, "1755");
  EXPECT_EQ(dialog.UDPPort.Text, "7000");
  EXPECT_EQ(dialog.MaxUDP.Text, "32000");
  EXPECT_FALSE(dialog.MaxRateFlag.Checked);
  EXPECT_FALSE(dialog.NetworkRate.Enabled);
  EXPECT_EQ(dialog.NetworkRate.ItemIndex, 2);
  EXPECT_EQ(dialog.NetworkRate.Text, "Modem 56 Kbps");
  EXPECT_EQ(dialog.MaxRate, 56000);
  EXPECT_EQ(dialog.SelectedMaxRate(), 0);
  EXPECT_FALSE(dialog.MProxyTick.Checked);
  EXPECT_FALSE(dialog.MProxyURL.Enabled);
  EXPECT_FALSE(dialog.HProxyPort.Enabled);
  EXPECT_EQ(dialog.MProxyPort.Text, "1755");
  EXPECT_EQ(dialog.HProxyPort.Text, "80");
  EXPECT_EQ(dialog.ProtoGroup.ItemIndex, kProtoTcp);
  EXPECT_FALSE(dialog.BypassDNS.Checked);
  // A store written before the option existed has none: fast delivery is asked for.
  EXPECT_TRUE(dialog.FastDeliveryTick.Checked);
  // Making the dialog only reads.
  EXPECT_EQ(Stored("HTTPPort"), "");

  desktop.ShowModeless(dialog);
  dialog.CloseButton.Click();
  for (const auto& [name, value] : kDefaultsWritten) EXPECT_EQ(Stored(name), value) << name;
}

TEST_F(Options, StoredValuesComeBackAfterEditsAndAClose) {
  Store("AutoPlay", "on");
  Store("OffsetTime", "01:02:03");
  Store("HTTPPort", "8080");
  Store("MaxNetworkRate", "7");
  Store("UseMaxRate", "on");
  Store("ProtoSelected", "UDP");
  Store("DNSState", "IP");
  Store("UseHttpProxy", "on");
  Store("HttpProxyUrl", "proxy.lan");
  Store("FastDelivery", "off");
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  EXPECT_TRUE(dialog.AutoPlayTick.Checked);
  EXPECT_FALSE(dialog.FastDeliveryTick.Checked);
  EXPECT_EQ(FormatStoredTime(dialog.OffsetTime), "01:02:03");
  EXPECT_EQ(FormatStoredTime(dialog.OffsetTimePicker.DateTime), "01:02:03");
  EXPECT_EQ(dialog.HTTPPort.Text, "8080");
  EXPECT_TRUE(dialog.NetworkRate.Enabled);
  EXPECT_EQ(dialog.SelectedMaxRate(), 768000);
  EXPECT_EQ(dialog.ProtoGroup.ItemIndex, kProtoUdp);
  EXPECT_TRUE(dialog.BypassDNS.Checked);
  EXPECT_TRUE(dialog.HProxyURL.Enabled);
  EXPECT_FALSE(dialog.MProxyURL.Enabled);

  desktop.ShowModeless(dialog);
  // The controls are the live configuration before anything is stored.
  dialog.NetworkRate.SetItemIndex(9);
  dialog.NetworkRate.OnChange();
  EXPECT_EQ(dialog.SelectedMaxRate(), 10000000);
  dialog.MaxRateFlag.Click();
  EXPECT_FALSE(dialog.NetworkRate.Enabled);
  EXPECT_EQ(dialog.SelectedMaxRate(), 0);
  dialog.MProxyTick.Click();
  EXPECT_TRUE(dialog.MProxyPort.Enabled);
  dialog.MProxyURL.Text = "mms-proxy";
  dialog.ProtoGroup.ItemIndex = kProtoHttp;
  dialog.OffsetTimePicker.DateTime = ParseStoredTime("00:10:00").value();
  EXPECT_EQ(FormatStoredTime(dialog.OffsetTime), "01:02:03");
  dialog.AutoLogTick.Click();
  EXPECT_EQ(Stored("MaxNetworkRate"), "7");
  dialog.Close();

  EXPECT_EQ(FormatStoredTime(dialog.OffsetTime), "00:10:00");
  EXPECT_EQ(Stored("OffsetTime"), "00:10:00");
  EXPECT_EQ(Stored("MaxNetworkRate"), "9");
  EXPECT_EQ(Stored("UseMaxRate"), "off");
  EXPECT_EQ(Stored("ProtoSelected"), "HTTP");
  EXPECT_EQ(Stored("UseMmsProxy"), "on");
  EXPECT_EQ(Stored("MmsProxyUrl"), "mms-proxy");
  EXPECT_EQ(Stored("AutoLog"), "on");

  TOptionsDialog again(desktop);
  EXPECT_EQ(again.ProtoGroup.ItemIndex, kProtoHttp);
  EXPECT_TRUE(again.MProxyTick.Checked);
  EXPECT_EQ(again.MProxyURL.Text, "mms-proxy");
  EXPECT_EQ(again.NetworkRate.Text, "LAN 10 Mbps or more");
  EXPECT_EQ(again.HProxyURL.Text, "proxy.lan");
}

TEST_F(Options, AutoTransportAndReconnectsAreStoredAndReadBack) {
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  ASSERT_EQ(dialog.ProtoGroup.Items[kProtoAuto].rfind("Auto", 0), 0u);
  EXPECT_EQ(dialog.Reconnects.Text, "");  // unset: the default for the kind of start
  desktop.ShowModeless(dialog);
  dialog.ProtoGroup.ItemIndex = kProtoAuto;
  dialog.Reconnects.Text = "5";
  dialog.Close();
  EXPECT_EQ(Stored("ProtoSelected"), "Auto");
  EXPECT_EQ(Stored("Reconnects"), "5");
  TOptionsDialog again(desktop);
  EXPECT_EQ(again.ProtoGroup.ItemIndex, kProtoAuto);
  EXPECT_EQ(again.Reconnects.Text, "5");
  again.DefaultsClick();
  EXPECT_EQ(again.ProtoGroup.ItemIndex, kProtoTcp);
  EXPECT_EQ(again.Reconnects.Text, "");
  // The RTSP choices, stored under their own names.
  for (const auto& [index, stored] :
       {std::pair{kProtoRtspUdp, "RTSPU"}, {kProtoRtspTcp, "RTSPT"}}) {
    TOptionsDialog rtsp(desktop);
    ASSERT_EQ(rtsp.ProtoGroup.Items[index].rfind("RTSP", 0), 0u);
    desktop.ShowModeless(rtsp);
    rtsp.ProtoGroup.ItemIndex = index;
    rtsp.Close();
    EXPECT_EQ(Stored("ProtoSelected"), stored);
    EXPECT_EQ(TOptionsDialog(desktop).ProtoGroup.ItemIndex, index);
  }
}

TEST_F(Options, TextsThatMeanNothingFallBackToTheDefaults) {
  ScriptedDesktop desktop;
  for (const char* proto : {"unknown", "tcp", "UDP ", "HTTPS", "auto", "rtspu"}) {
    Store("ProtoSelected", proto);
    EXPECT_EQ(TOptionsDialog(desktop).ProtoGroup.ItemIndex, kProtoTcp) << proto;
  }
  for (const char* dns : {"Lookup", "ip", "IP "}) {
    Store("DNSState", dns);
    EXPECT_FALSE(TOptionsDialog(desktop).BypassDNS.Checked) << dns;
  }
  for (const char* tick : {"ON", "yes", "1"}) {
    Store("AutoPlay", tick);
    EXPECT_FALSE(TOptionsDialog(desktop).AutoPlayTick.Checked) << tick;
  }
  for (const char* rate : {"abc", "10", "-1", "99999999999"}) {
    Store("MaxNetworkRate", rate);
    TOptionsDialog dialog(desktop);
    EXPECT_EQ(dialog.NetworkRate.ItemIndex, kDefaultNetworkRate) << rate;
    EXPECT_EQ(dialog.MaxRate, 56000) << rate;
  }
  for (const char* time : {"garbage", "25:00:00", "1:02:03", "2024-01-01 10:00:00"}) {
    Store("OffsetTime", time);
    EXPECT_EQ(TOptionsDialog(desktop).OffsetTime, 0) << time;
  }
  // A port that is not a number is shown as stored and fails where it is used.
  Store("TCPPort", "17x5");
  TOptionsDialog dialog(desktop);
  EXPECT_EQ(dialog.TCPPort.Text, "17x5");
  EXPECT_THROW(StrToInt(dialog.TCPPort.Text), EConvertError);
  EXPECT_EQ(StrToInt(dialog.HTTPPort.Text), 80);
  // No protocol selected is stored as "unknown", which reads back as TCP.
  desktop.ShowModeless(dialog);
  dialog.ProtoGroup.ItemIndex = -1;
  dialog.Close();
  EXPECT_EQ(Stored("ProtoSelected"), "unknown");
  EXPECT_EQ(TOptionsDialog(desktop).ProtoGroup.ItemIndex, kProtoTcp);
}

TEST_F(Options, ResetChangesOnlyTheControlsUntilTheDialogCloses) {
  Store("UDPPort", "9000");
  Store("UseMmsProxy", "on");
  Store("MmsProxyUrl", "gate");
  Store("ProtoSelected", "HTTP");
  Store("OffsetTime", "00:00:30");
  Store("StallTimeout", "0");
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  desktop.ShowModeless(dialog);
  EXPECT_EQ(dialog.StallTimeout.Text, "0");
  dialog.Defaults.Click();
  EXPECT_EQ(desktop.Messages(),
            std::vector<std::string>{"Qor setup options have been reset to their defaults"});
  EXPECT_EQ(Stored("UDPPort"), "9000");
  EXPECT_FALSE(dialog.MProxyURL.Enabled);
  EXPECT_EQ(dialog.OffsetTimePicker.DateTime, 0);
  // Edits after the reset win.
  dialog.HTTPPort.Text = "8000";
  dialog.Close();
  std::map<std::string, std::string> expected = kDefaultsWritten;
  expected["HTTPPort"] = "8000";
  for (const auto& [name, value] : expected) EXPECT_EQ(Stored(name), value) << name;
}

TEST_F(Options, ZeroClearsTheOffsetAtOnce) {
  Store("OffsetTime", "00:05:00");
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  desktop.ShowModeless(dialog);
  ASSERT_NE(dialog.OffsetTime, 0);
  dialog.Button1.Click();
  EXPECT_EQ(dialog.OffsetTime, 0);
  EXPECT_EQ(dialog.OffsetTimePicker.DateTime, 0);
  // A picker that carries a date gives only its time of day.
  dialog.OffsetTimePicker.DateTime = 45000.25;
  dialog.Close();
  EXPECT_EQ(Stored("OffsetTime"), "06:00:00");
  EXPECT_DOUBLE_EQ(dialog.OffsetTime, 0.25);
}

class BrowserProxy : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    for (const char* name : {"http_proxy", "HTTP_PROXY", "GSETTINGS_BACKEND", "XDG_CONFIG_HOME"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
      unsetenv(name);
    }
    // The desktop's settings of this test alone: GLib's key-file store in the test's folder.
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    setenv("XDG_CONFIG_HOME", folder_.Path("desktop").c_str(), 1);
  }
  // Sets a GNOME proxy setting the way the desktop's network panel does.
  static void Gnome(const std::string& schema, const std::string& key, const std::string& value) {
    const std::string command = "gsettings set " + schema + " " + key + " " + value;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    StoreTest::TearDown();
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(BrowserProxy, AddressesAreReducedToHostAndPort) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://proxy.example.com:3128/", "proxy.example.com:3128"},
      {"http://user:p@ss:word@proxy:8080/path?q=1", "proxy:8080"},
      {"proxy:80", "proxy:80"},
      {"  socks5://10.0.0.1:1080#frag ", "10.0.0.1:1080"},
      {"http://proxy.example.com", "proxy.example.com"},
      {"http://[::1]:3128/", "[::1]:3128"},
  };
  for (const auto& [address, expected] : cases)
    EXPECT_EQ(StripProxyAddress(address), expected) << address;
  EXPECT_EQ(SplitProxyValue("http=a:1;ftp=b:2")->Port, "1;ftp=b:2");
  EXPECT_EQ(SplitProxyValue(" host : 81 ")->Host, "host");
  EXPECT_FALSE(SplitProxyValue("host").has_value());
  EXPECT_EQ(SplitProxyValue("[::1]:3128")->Host, "[::1]");
}

TEST_F(BrowserProxy, TheLowerCaseVariableWinsAndFillsOnlyTheHttpProxy) {
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  desktop.ShowModeless(dialog);
  setenv("HTTP_PROXY", "http://upper:1111", 1);
  setenv("http_proxy", "http://lower.example:3128/", 1);
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(dialog.HProxyURL.Text, "lower.example");
  EXPECT_EQ(dialog.HProxyPort.Text, "3128");
  EXPECT_FALSE(dialog.HProxyTick.Checked);
  EXPECT_TRUE(desktop.Messages().empty());
  EXPECT_EQ(Stored("HttpProxyUrl"), "");

  unsetenv("http_proxy");
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(dialog.HProxyURL.Text, "upper");
  EXPECT_EQ(dialog.HProxyPort.Text, "1111");
}

TEST_F(BrowserProxy, MissingOrPortlessValuesAreReportedAndChangeNothing) {
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  dialog.HProxyURL.Text = "kept";
  dialog.LoadProxyIE.Click();
  setenv("http_proxy", "http://noport.example/", 1);
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(desktop.Messages(),
            (std::vector<std::string>{kNoDesktopProxyText, kBadDesktopProxyText}));
  EXPECT_EQ(dialog.HProxyURL.Text, "kept");
  EXPECT_EQ(dialog.HProxyPort.Text, "80");
}

// Without a proxy in the environment, the desktop's manual proxy is the one used; its automatic
// or absent proxy is none.
TEST_F(BrowserProxy, TheDesktopsManualProxyIsReadWhenTheEnvironmentHasNone) {
  ScriptedDesktop desktop;
  TOptionsDialog dialog(desktop);
  Gnome("org.gnome.system.proxy.http", "host", "desk.example");
  Gnome("org.gnome.system.proxy.http", "port", "8081");
  Gnome("org.gnome.system.proxy", "mode", "auto");
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(desktop.Messages(), std::vector<std::string>{kNoDesktopProxyText});
  Gnome("org.gnome.system.proxy", "mode", "manual");
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(dialog.HProxyURL.Text, "desk.example");
  EXPECT_EQ(dialog.HProxyPort.Text, "8081");
  setenv("http_proxy", "http://env.example:3128", 1);
  dialog.LoadProxyIE.Click();
  EXPECT_EQ(dialog.HProxyURL.Text, "env.example");
}

TEST(ConvertText, WholeNumbersInRangeOnly) {
  EXPECT_EQ(TryStrToInt(" 1755 "), 1755);
  EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(TryStrToInt("+7"), 7);
  for (const char* bad : {"", " ", "-", "2147483648", "12a", "0x10", "1 2"})
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
  try {
    StrToInt("abc");
    ADD_FAILURE() << "no conversion error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
  }
}

}  // namespace
}  // namespace qor
