#include "app/options_dialog.h"

#include "app/browser_proxy.h"
#include "app/convert_error.h"
#include "app/date_time_text.h"
#include "session/session.h"

namespace qor {

namespace {

const char* const kDefaultHttpPort = "80";
const char* const kDefaultTcpPort = "1755";
const char* const kDefaultUdpPort = "7000";
const char* const kDefaultMaxUdp = "32000";
const char* const kDefaultMmsProxyPort = "1755";
const char* const kDefaultHttpProxyPort = "80";

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

std::string OrDefault(const std::string& value, const char* fallback) {
  return value.empty() ? fallback : value;
}

struct TimeoutEdit {
  TEdit TOptionsDialog::*edit;
  const char* setting;
  const char* label;
  int32_t SessionTimeouts::*fallback;
};

const TimeoutEdit kTimeoutEdits[] = {
    {&TOptionsDialog::ConnectTimeout, "ConnectTimeout", "Connect (seconds)",
     &SessionTimeouts::ConnectSeconds},
    {&TOptionsDialog::AnswerTimeout, "AnswerTimeout", "Server answer (seconds)",
     &SessionTimeouts::AnswerSeconds},
    {&TOptionsDialog::FirstDataTimeout, "FirstDataTimeout", "First data (seconds)",
     &SessionTimeouts::FirstDataSeconds},
    {&TOptionsDialog::StallTimeout, "StallTimeout", "Stalled stream (seconds)",
     &SessionTimeouts::StallSeconds},
};

std::string DefaultTimeout(const TimeoutEdit& t) {
  return std::to_string(SessionTimeouts{}.*t.fallback);
}

void SetNumberEdit(TEdit& edit, const char* name, const char* label) {
  edit.Name = name;
  edit.Label = label;
  edit.NumbersOnly = true;
}

}  // namespace

TOptionsDialog::TOptionsDialog(DesktopServices& desktop) : desktop_(desktop) {
  Name = "OptionsDialog";
  Caption = "Setup Options";
  StayOnTop = true;

  AutoPlayTick.Name = "AutoPlayTick";
  AutoPlayTick.Caption = "Auto open media player when file opened or completed";
  AutoLogTick.Name = "AutoLogTick";
  AutoLogTick.Caption = "Auto prompt for save log on download completed";
  OffsetTimePicker.Name = "OffsetTimePicker";
  OffsetTimePicker.Kind = dtkTime;
  OffsetTimePicker.Format = "HH.mm.ss";
  Button1.Name = "Button1";
  Button1.Caption = "Zero";
  Button1.OnClick = [this] { Button1Click(); };

  ProtoGroup.Name = "ProtoGroup";
  ProtoGroup.Items.SetText(
      "HTTP\r\nTCP\r\nUDP\r\nAuto (RTSP, then MMS with UDP, TCP, then HTTP)\r\n"
      "RTSP with UDP data\r\nRTSP over TCP");
  SetNumberEdit(HTTPPort, "HTTPPort", "HTTP Port");
  SetNumberEdit(TCPPort, "TCPPort", "MMS over TCP Port");
  SetNumberEdit(UDPPort, "UDPPort", "MMS over UDP Port");
  SetNumberEdit(MaxUDP, "MaxUDP", "Max UDP packet size");
  for (const TimeoutEdit& t : kTimeoutEdits) SetNumberEdit(this->*t.edit, t.setting, t.label);
  SetNumberEdit(Reconnects, "Reconnects", "Reconnects after a cut");
  BypassDNS.Name = "BypassDNS";
  BypassDNS.Caption = "Bypass DNS lookup. Use this for direct dotted IP addresses only.";

  MProxyTick.Name = "MProxyTick";
  MProxyTick.Caption = "Use MMS Proxy URL";
  MProxyTick.OnClick = [this] { MProxyTickClick(); };
  MProxyURL.Name = "MProxyURL";
  SetNumberEdit(MProxyPort, "MProxyPort", "Port");
  HProxyTick.Name = "HProxyTick";
  HProxyTick.Caption = "Use HTTP Proxy URL";
  HProxyTick.OnClick = [this] { HProxyTickClick(); };
  HProxyURL.Name = "HProxyURL";
  SetNumberEdit(HProxyPort, "HProxyPort", "Port");
  LoadProxyIE.Name = "LoadProxyIE";
  LoadProxyIE.Caption = "Load the desktop's proxy settings";
  LoadProxyIE.OnClick = [this] { LoadProxyIEClick(); };

  MaxRateFlag.Name = "MaxRateFlag";
  MaxRateFlag.Caption = "Allow Qor to select best stream rates for downloading";
  MaxRateFlag.OnClick = [this] { MaxRateFlagClick(); };
  NetworkRate.Name = "NetworkRate";
  for (const NetworkRateEntry& entry : kNetworkRates) NetworkRate.Items.Add(entry.Caption);
  NetworkRate.OnChange = [this] { NetworkRateChange(); };
  FastDeliveryTick.Name = "FastDeliveryTick";
  FastDeliveryTick.Caption = "Ask the server for fast delivery of on-demand clips";

  Defaults.Name = "Defaults";
  Defaults.Caption = "Reset";
  Defaults.OnClick = [this] { DefaultsClick(); };
  CloseButton.Name = "CloseButton";
  CloseButton.Caption = "&Close";
  CloseButton.OnClick = [this] { CloseButtonClick(); };
  for (TButton* button : {&Button1, &LoadProxyIE, &Defaults, &CloseButton}) Adopt(*button);

  FormShow();
}

std::string TOptionsDialog::Read(const char* name) const {
  return Helper.ReadSetting(kSettingsKeyPath, name);
}

void TOptionsDialog::Write(const char* name, const std::string& value) {
  Helper.WriteSetting(kSettingsKeyPath, name, value);
}

void TOptionsDialog::SelectNetworkRate(int32_t index) {
  NetworkRate.SetItemIndex(index);
  NetworkRateChange();
}

void TOptionsDialog::FormShow() {
  AutoPlayTick.Checked = Read("AutoPlay") == "on";
  AutoLogTick.Checked = Read("AutoLog") == "on";

  // A time that does not read back is taken as no offset.
  OffsetTime = ParseStoredTime(Read("OffsetTime")).value_or(0);
  OffsetTimePicker.DateTime = OffsetTime;

  HTTPPort.Text = OrDefault(Read("HTTPPort"), kDefaultHttpPort);
  TCPPort.Text = OrDefault(Read("TCPPort"), kDefaultTcpPort);
  UDPPort.Text = OrDefault(Read("UDPPort"), kDefaultUdpPort);
  MaxUDP.Text = OrDefault(Read("MaxUDPSize"), kDefaultMaxUdp);
  for (const TimeoutEdit& t : kTimeoutEdits)
    (this->*t.edit).Text = OrDefault(Read(t.setting), DefaultTimeout(t).c_str());

  MaxRateFlag.Checked = Read("UseMaxRate") == "on";
  // Settings stored before the option existed have none: they get the default, on.
  FastDeliveryTick.Checked = Read("FastDelivery") != "off";
  // An index that is not one of the items would leave no rate to ask for.
  std::optional<int32_t> rate = TryStrToInt(Read("MaxNetworkRate"));
  if (!rate || *rate < 0 || *rate >= static_cast<int32_t>(kNetworkRates.size()))
    rate = kDefaultNetworkRate;
  SelectNetworkRate(*rate);

  MProxyURL.Text = Read("MmsProxyUrl");
  MProxyPort.Text = OrDefault(Read("MmsProxyPort"), kDefaultMmsProxyPort);
  HProxyURL.Text = Read("HttpProxyUrl");
  HProxyPort.Text = OrDefault(Read("HttpProxyPort"), kDefaultHttpProxyPort);

  const std::string proto = Read("ProtoSelected");
  // Any other text (an older program's "unknown") keeps meaning TCP.
  ProtoGroup.ItemIndex = proto == "HTTP"    ? kProtoHttp
                         : proto == "UDP"   ? kProtoUdp
                         : proto == "Auto"  ? kProtoAuto
                         : proto == "RTSPU" ? kProtoRtspUdp
                         : proto == "RTSPT" ? kProtoRtspTcp
                                            : kProtoTcp;

  BypassDNS.Checked = Read("DNSState") == "IP";
  Reconnects.Text = Read("Reconnects");
  MProxyTick.Checked = Read("UseMmsProxy") == "on";
  HProxyTick.Checked = Read("UseHttpProxy") == "on";

  MProxyTickClick();
  HProxyTickClick();
  MaxRateFlagClick();
}

void TOptionsDialog::FormClose() {
  Write("AutoPlay", OnOff(AutoPlayTick.Checked));
  Write("AutoLog", OnOff(AutoLogTick.Checked));
  OffsetTime = TimeOf(OffsetTimePicker.DateTime);
  Write("OffsetTime", FormatStoredTime(OffsetTime));
  Write("HTTPPort", HTTPPort.Text);
  Write("TCPPort", TCPPort.Text);
  Write("UDPPort", UDPPort.Text);
  Write("MaxUDPSize", MaxUDP.Text);
  for (const TimeoutEdit& t : kTimeoutEdits) Write(t.setting, (this->*t.edit).Text);
  Write("MaxNetworkRate", THelper::IntText(NetworkRate.ItemIndex));
  Write("MmsProxyUrl", MProxyURL.Text);
  Write("MmsProxyPort", MProxyPort.Text);
  Write("HttpProxyUrl", HProxyURL.Text);
  Write("HttpProxyPort", HProxyPort.Text);
  const char* proto = "unknown";
  if (ProtoGroup.ItemIndex == kProtoHttp) proto = "HTTP";
  if (ProtoGroup.ItemIndex == kProtoTcp) proto = "TCP";
  if (ProtoGroup.ItemIndex == kProtoUdp) proto = "UDP";
  if (ProtoGroup.ItemIndex == kProtoAuto) proto = "Auto";
  if (ProtoGroup.ItemIndex == kProtoRtspUdp) proto = "RTSPU";
  if (ProtoGroup.ItemIndex == kProtoRtspTcp) proto = "RTSPT";
  Write("ProtoSelected", proto);
  Write("UseMaxRate", OnOff(MaxRateFlag.Checked));
  Write("FastDelivery", OnOff(FastDeliveryTick.Checked));
  Write("Reconnects", Reconnects.Text);
  Write("DNSState", BypassDNS.Checked ? "IP" : "Lookup");
  Write("UseMmsProxy", OnOff(MProxyTick.Checked));
  Write("UseHttpProxy", OnOff(HProxyTick.Checked));
}

void TOptionsDialog::CloseButtonClick() {
  Close();
}

void TOptionsDialog::Button1Click() {
  OffsetTimePicker.DateTime = 0;
  OffsetTime = 0;
}

void TOptionsDialog::MProxyTickClick() {
  MProxyURL.Enabled = MProxyTick.Checked;
  MProxyPort.Enabled = MProxyTick.Checked;
}

void TOptionsDialog::HProxyTickClick() {
  HProxyURL.Enabled = HProxyTick.Checked;
  HProxyPort.Enabled = HProxyTick.Checked;
}

void TOptionsDialog::MaxRateFlagClick() {
  NetworkRate.Enabled = MaxRateFlag.Checked;
}

void TOptionsDialog::NetworkRateChange() {
  const int32_t index = NetworkRate.ItemIndex;
  // With no item selected the last rate stays.
  if (index >= 0 && index < static_cast<int32_t>(kNetworkRates.size()))
    MaxRate = kNetworkRates[static_cast<size_t>(index)].BitsPerSecond;
}

void TOptionsDialog::DefaultsClick() {
  AutoPlayTick.Checked = false;
  AutoLogTick.Checked = false;
  OffsetTimePicker.DateTime = 0;
  ProtoGroup.ItemIndex = kProtoTcp;
  HTTPPort.Text = kDefaultHttpPort;
  TCPPort.Text = kDefaultTcpPort;
  UDPPort.Text = kDefaultUdpPort;
  MaxUDP.Text = kDefaultMaxUdp;
  for (const TimeoutEdit& t : kTimeoutEdits) (this->*t.edit).Text = DefaultTimeout(t);
  BypassDNS.Checked = false;
  Reconnects.Text.clear();
  MProxyURL.Text.clear();
  MProxyPort.Text = kDefaultMmsProxyPort;
  HProxyURL.Text.clear();
  HProxyPort.Text = kDefaultHttpProxyPort;
  MProxyTick.Checked = false;
  HProxyTick.Checked = false;
  MProxyTickClick();
  HProxyTickClick();
  MaxRateFlag.Checked = false;
  MaxRateFlagClick();
  SelectNetworkRate(kDefaultNetworkRate);
  FastDeliveryTick.Checked = true;
  desktop_.ShowMessage("Qor setup options have been reset to their defaults");
}

void TOptionsDialog::LoadProxyIEClick() {
  const std::string value = BrowserProxyValue();
  if (value.empty()) {
    desktop_.ShowMessage(kNoDesktopProxyText);
    return;
  }
  std::optional<ProxySplit> split = SplitProxyValue(value);
  if (!split) {
    desktop_.ShowMessage(kBadDesktopProxyText);
    return;
  }
  HProxyURL.Text = split->Host;
  HProxyPort.Text = split->Port;
}

}  // namespace qor
