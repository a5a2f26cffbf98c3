// About: the version lines the logic holds.
#include "app/about_dialog.h"

#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterAboutDialog() {
  BindForm<TAboutDialog>([](TAboutDialog& f) {
    FormLayout layout;
    layout.Pages = {{"", {{"", {{"", {&f.Memo1}}}, ""}}}};
    layout.Controls = {&f.OKButton};
    return layout;
  });
}

}  // namespace qor::gui
