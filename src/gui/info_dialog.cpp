// Media Information: the report's six pages, read again at every Sync so a running download's
// counters move while the dialog is open.
#include "app/main_info_dialog.h"

#include "gui/form_dialog.h"

namespace qor::gui {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

void AddList(Fields& fields, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) fields.emplace_back("", line);
}

}  // namespace

void RegisterInfoDialog() {
  BindForm<TInfoDialog>([](TInfoDialog& f) {
    using C = MediaInfoCaptions;
    const MediaInfoReport& r = f.Report;
    FormLayout layout;
    layout.ReportPages = {
        {C::kPages[0],
         [&r] {
           Fields fields{
               {"Clip:", r.Clip},     {"Author:", r.Author},           {"Copyright:", r.Copyright},
               {"Rating:", r.Rating}, {"Description:", r.Description}, {C::kLocation, r.Location}};
           // Only a file that needs mending says anything here.
           if (!r.State.empty()) fields.emplace_back("File:", r.State);
           return fields;
         }},
        {C::kPages[1],
         [&r] {
           return Fields{{"File size:", r.FileSize},         {C::kCreatedAsf, r.Created_Asf},
                         {C::kCreatedFile, r.Created_File},  {C::kFlag, r.Flag},
                         {"Play duration:", r.PlayDuration}, {"Send duration:", r.SendDuration},
                         {C::kPreRoll, r.PreRollDuration}};
         }},
        {C::kPages[2],
         [&r] {
           Fields fields;
           AddList(fields, r.ExtContent);
           if (!r.ExtContent.empty() && !r.Codecs.empty()) fields.emplace_back("", "");
           AddList(fields, r.Codecs);
           return fields;
         }},
        {C::kPages[3],
         [&r] {
           return Fields{{"Packet size:", r.ASFPacket},
                         {"Header size:", r.ASFHead},
                         {"Total packets:", r.ASFTotalPackets},
                         {std::string(C::kAllMaxBitRate) + ":", r.AllMaxBitRate},
                         {"Server:", r.ServerVer},
                         {"Tool:", r.ToolVer},
                         {"Update:", r.UpdateUrl},
                         {C::kEncryptionType, r.EncryptionType},
                         {"Send time:", r.SendTime},
                         {"Total time:", r.TotalTime},
                         {"Packets:", r.Packets},
                         {"Acks:", r.Acks},
                         {"Client ID:", r.ClientID},
                         {"Stream max rate:", r.SingleMaxStreamRate}};
         }},
        {C::kPages[4],
         [&r] {
           Fields fields{{"Streams:", r.TotalStreams}};
           AddList(fields, r.StreamProp);
           return fields;
         }},
        {C::kPages[5],
         [&r] {
           Fields fields;
           AddList(fields, r.MBR);
           return fields;
         }},
    };
    layout.Controls = {&f.OkButton};
    return layout;
  });
}

}  // namespace qor::gui
