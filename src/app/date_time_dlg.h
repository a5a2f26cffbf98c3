#pragma once
// TDateTimeDlg: the start and end moments of a timed recording, each as a date picker and a time
// picker. The moments are kept in the settings store as "YYYY-MM-DD HH:MM:SS" local time.

#include "app/desktop_services.h"
#include "app/form_controls.h"
#include "support/helper.h"

namespace qor {

class TDateTimeDlg : public TForm {
 public:
  TDateTimeDlg();

  // Both 0 until set.
  TDateTime Start = 0;
  TDateTime End = 0;

  TLabel VcrOnGroup;                // "VCR ON"
  TLabel VcrOffGroup;               // "VCR OFF"
  TDateTimePicker DateTimePicker1;  // start date
  TDateTimePicker DateTimePicker2;  // start time
  TDateTimePicker DateTimePicker3;  // end date
  TDateTimePicker DateTimePicker4;  // end time
  TButton Button1;                  // "&Ok", also Escape

  void FormShow() override;
  void Button1Click();

  // Start and End from VcrOn and VcrOff; a value that is missing or does not read back as a
  // moment gives now.
  void LoadStoredMoments(TDateTime now);
  // Start as VcrOn, End as VcrOff.
  void StoreMoments();
  // The whole edit: load, show modally (however it closes), store. Start and End are the result.
  void EditMoments(DesktopServices& desktop, TDateTime now);

  THelper Helper;
};

}  // namespace qor
