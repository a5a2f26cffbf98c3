// The question asked when the chosen file already holds data.
#include "app/resume_dlg.h"

#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterResumeDialog() {
  BindForm<TResumeDlg>([](TResumeDlg& f) {
    FormLayout layout;
    layout.Heading = &f.Heading;
    layout.Pages = {{"", {{"", {{"", {&f.Heading}}, {"", {&f.Message}}}, ""}}}};
    layout.Controls = {&f.ResumeBtn, &f.OverwriteBtn, &f.CancelBtn};
    return layout;
  });
}

}  // namespace qor::gui
