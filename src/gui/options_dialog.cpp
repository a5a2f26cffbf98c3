// Setup Options: six pages over the options logic. OK closes (the logic stores the options when
// it closes), Reset puts back the defaults, Zero clears the start offset.
#include "app/options_dialog.h"

#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterOptionsDialog() {
  BindForm<TOptionsDialog>([](TOptionsDialog& f) {
    FormLayout layout;
    layout.PickLists = {&f.NetworkRate};
    layout.Pages = {
        {f.Pages[0],
         {{"When a download completes",
           {{"", {&f.AutoPlayTick}}, {"", {&f.AutoLogTick}}},
           "The player is the program your desktop opens .asf files with."}}},
        {f.Pages[1],
         {{"Start position",
           {{"Start downloads at", {&f.OffsetTimePicker, &f.Button1}}},
           "Hours, minutes and seconds into a pre-recorded clip. Live streams always start at "
           "the present moment."}}},
        {f.Pages[2],
         {{"Transport",
           {{"Protocol", {&f.ProtoGroup}},
            {"", {&f.BypassDNS}},
            {f.Reconnects.Label, {&f.Reconnects}}},
           "Auto moves on when a transport is refused, unreachable or silent; mmsu://, mmst://, "
           "mmsh://, http://, rtspu:// and rtspt:// locations keep to their own, rtsp:// to RTSP. "
           "A cut stream is joined again that "
           "many times in a row: a live one into a new file each time, a pre-recorded one "
           "resumes in its own (empty: 3 for timed and batch recordings, none otherwise)."},
          {"Ports",
           {{f.HTTPPort.Label, {&f.HTTPPort}},
            {f.TCPPort.Label, {&f.TCPPort}},
            {f.UDPPort.Label, {&f.UDPPort}},
            {f.MaxUDP.Label, {&f.MaxUDP}}},
           ""},
          {"Time-outs",
           {{f.ConnectTimeout.Label, {&f.ConnectTimeout}},
            {f.AnswerTimeout.Label, {&f.AnswerTimeout}},
            {f.FirstDataTimeout.Label, {&f.FirstDataTimeout}},
            {f.StallTimeout.Label, {&f.StallTimeout}}},
           "0 waits without a limit."}}},
        {f.Pages[3],
         {{"MMS proxy",
           {{"", {&f.MProxyTick}}, {"Address", {&f.MProxyURL}}, {"Port", {&f.MProxyPort}}},
           ""},
          {"HTTP proxy",
           {{"", {&f.HProxyTick}},
            {"Address", {&f.HProxyURL}},
            {"Port", {&f.HProxyPort}},
            {"", {&f.LoadProxyIE}}},
           ""}}},
        {f.Pages[4],
         {{"Stream rates",
           {{"", {&f.MaxRateFlag}}, {"Network speed", {&f.NetworkRate}}},
           "With several rates of one clip on offer, the fastest that fits this speed is "
           "chosen."},
          {"Delivery",
           {{"", {&f.FastDeliveryTick}}},
           "Servers that offer it send an on-demand clip faster than it plays (Windows Media "
           "servers: up to five times), so it is recorded sooner; the file is the same. A live "
           "stream always comes at its own pace."}}},
        {f.Pages[5],
         {{"Defaults",
           {{"", {&f.Defaults}}},
           "Puts every option on these pages back to its first value. The options are stored "
           "when the dialog closes."}}},
    };
    layout.Controls = {&f.CloseButton};
    return layout;
  });
}

}  // namespace qor::gui
