#pragma once
// TOptionsDialog: the transfer options. Its controls are the live configuration every download
// start reads; they are loaded from the settings store when the dialog is made and each time it is
// shown, and written back each time it closes.

#include <array>
#include <cstdint>
#include <string>

#include "app/desktop_services.h"
#include "app/form_controls.h"
#include "support/helper.h"

namespace qor {

struct NetworkRateEntry {
  const char* Caption;
  int32_t BitsPerSecond;
};

inline constexpr std::array<NetworkRateEntry, 10> kNetworkRates{{
    {"Modem 28.8 Kbps", 28800},
    {"Modem 33.6 Kbps", 33600},
    {"Modem 56 Kbps", 56000},
    {"ISDN 64 Kbps", 64000},
    {"Dual ISDN 128 Kbps", 128000},
    {"DSL/Cable 256 Kbps", 256000},
    {"DSL/Cable 384 Kbps", 384000},
    {"DSL/Cable 768 Kbps", 768000},
    {"T1 1.5 Mbps", 1500000},
    {"LAN 10 Mbps or more", 10000000},
}};

// What the proxy button says when the desktop has no proxy, or one it cannot split.
inline constexpr const char* kNoDesktopProxyText =
    "Qor Main App: No proxy is set for this desktop session (neither http_proxy nor HTTP_PROXY "
    "in the environment, nor a manual proxy in the desktop's network settings)";
inline constexpr const char* kBadDesktopProxyText =
    "Qor Main App: the desktop's proxy setting is not in host:port form";

inline constexpr int32_t kDefaultNetworkRate = 2;
inline constexpr int32_t kProtoHttp = 0;
inline constexpr int32_t kProtoTcp = 1;
inline constexpr int32_t kProtoUdp = 2;
// Tries RTSP (UDP data, then TCP), MMS with UDP data, MMS over TCP and then HTTP streaming until
// one answers.
inline constexpr int32_t kProtoAuto = 3;
inline constexpr int32_t kProtoRtspUdp = 4;
inline constexpr int32_t kProtoRtspTcp = 5;
// Not a choice of the dialog: what an rtsp:// location asks for (UDP data, then TCP).
inline constexpr int32_t kProtoRtsp = 6;

class TOptionsDialog : public TForm {
 public:
  // Loads the stored options into the controls, as showing the dialog does.
  explicit TOptionsDialog(DesktopServices& desktop);

  // Page "On Completed".
  TCheckBox AutoPlayTick;
  TCheckBox AutoLogTick;
  // Page "Offset Start".
  TDateTimePicker OffsetTimePicker;
  TButton Button1;  // "Zero"
  // Page "Protocol".
  TRadioGroup ProtoGroup;
  TEdit HTTPPort;
  TEdit TCPPort;
  TEdit UDPPort;
  TEdit MaxUDP;
  TCheckBox BypassDNS;
  // Seconds each step of a download may take before it fails (0 = no limit).
  TEdit ConnectTimeout;
  TEdit AnswerTimeout;
  TEdit FirstDataTimeout;
  TEdit StallTimeout;
  // Attempts to join a cut live stream again (empty: 3 for unattended starts, else none).
  TEdit Reconnects;
  // Page "Proxy".
  TCheckBox MProxyTick;
  TEdit MProxyURL;
  TEdit MProxyPort;
  TCheckBox HProxyTick;
  TEdit HProxyURL;
  TEdit HProxyPort;
  TButton LoadProxyIE;
  // Page "Stream Rates".
  TCheckBox MaxRateFlag;
  TComboBox NetworkRate;
  // Asks servers to send on-demand clips as fast as they allow (stored FastDelivery, on unless
  // stored "off").
  TCheckBox FastDeliveryTick;
  // Page "Defaults".
  TButton Defaults;  // "Reset"
  TButton CloseButton;

  const std::array<std::string, 6> Pages{"On Completed", "Offset Start", "Protocol",
                                         "Proxy",        "Stream Rates", "Defaults"};

  // The offset time of day the next download starts at (fraction of a day): taken from the store
  // when shown, from the picker when closed, 0 after "Zero".
  TDateTime OffsetTime = 0;
  // Bits per second of the selected NetworkRate item.
  int32_t MaxRate = kNetworkRates[kDefaultNetworkRate].BitsPerSecond;

  void FormShow() override;
  void FormClose() override;
  void CloseButtonClick();
  void Button1Click();
  void MProxyTickClick();
  void HProxyTickClick();
  void MaxRateFlagClick();
  void NetworkRateChange();
  void DefaultsClick();
  void LoadProxyIEClick();

  // The rate a download asks for: MaxRate when MaxRateFlag is checked, else 0.
  int32_t SelectedMaxRate() const { return MaxRateFlag.Checked ? MaxRate : 0; }

  THelper Helper;

 private:
  std::string Read(const char* name) const;
  void Write(const char* name, const std::string& value);
  void SelectNetworkRate(int32_t index);

  DesktopServices& desktop_;
};

}  // namespace qor
