// VCR timer: the moment recording starts and the moment it stops.
#include "app/date_time_dlg.h"

#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterDateTimeDialog() {
  BindForm<TDateTimeDlg>([](TDateTimeDlg& f) {
    FormLayout layout;
    layout.Pages = {
        {"",
         {{f.VcrOnGroup.Caption, {{"Start", {&f.DateTimePicker1, &f.DateTimePicker2}}}, ""},
          {f.VcrOffGroup.Caption,
           {{"Stop", {&f.DateTimePicker3, &f.DateTimePicker4}}},
           "The location in the main window is recorded between the two moments."}}}};
    layout.Controls = {&f.Button1};
    return layout;
  });
}

}  // namespace qor::gui
