#include "app/date_time_dlg.h"

#include "app/date_time_text.h"

namespace qor {

TDateTimeDlg::TDateTimeDlg() {
  Name = "DateTimeDlg";
  Caption = "VCR Timer";
  VcrOnGroup.Name = "VcrOnGroup";
  VcrOnGroup.Caption = "VCR ON";
  VcrOffGroup.Name = "VcrOffGroup";
  VcrOffGroup.Caption = "VCR OFF";
  DateTimePicker1.Name = "DateTimePicker1";
  DateTimePicker1.Kind = dtkDate;
  DateTimePicker2.Name = "DateTimePicker2";
  DateTimePicker2.Kind = dtkTime;
  DateTimePicker3.Name = "DateTimePicker3";
  DateTimePicker3.Kind = dtkDate;
  DateTimePicker4.Name = "DateTimePicker4";
  DateTimePicker4.Kind = dtkTime;
  Button1.Name = "Button1";
  Button1.Caption = "&Ok";
  Button1.Default = true;
  Button1.Cancel = true;
  Button1.OnClick = [this] { Button1Click(); };
  Adopt(Button1);
}

void TDateTimeDlg::FormShow() {
  DateTimePicker1.DateTime = Start;
  DateTimePicker2.DateTime = Start;
  DateTimePicker3.DateTime = End;
  DateTimePicker4.DateTime = End;
}

void TDateTimeDlg::Button1Click() {
  Start = DateOf(DateTimePicker1.DateTime) + TimeOf(DateTimePicker2.DateTime);
  End = DateOf(DateTimePicker3.DateTime) + TimeOf(DateTimePicker4.DateTime);
  Close();
}

void TDateTimeDlg::LoadStoredMoments(TDateTime now) {
  Start = ParseStoredDateTime(Helper.ReadSetting(kSettingsKeyPath, "VcrOn")).value_or(now);
  End = ParseStoredDateTime(Helper.ReadSetting(kSettingsKeyPath, "VcrOff")).value_or(now);
}

void TDateTimeDlg::StoreMoments() {
  Helper.WriteSetting(kSettingsKeyPath, "VcrOn", FormatStoredDateTime(Start));
  Helper.WriteSetting(kSettingsKeyPath, "VcrOff", FormatStoredDateTime(End));
}

void TDateTimeDlg::EditMoments(DesktopServices& desktop, TDateTime now) {
  LoadStoredMoments(now);
  desktop.ShowModal(*this);
  StoreMoments();
}

}  // namespace qor
