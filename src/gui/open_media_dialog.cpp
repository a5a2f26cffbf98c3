// Open: a location typed or picked from the last twenty; Browse fills it from a file.
#include "app/open_media_dialog.h"

#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterOpenMediaDialog() {
  BindForm<TOpenMediaDialog>([](TOpenMediaDialog& f) {
    FormLayout layout;
    layout.Pages = {{"",
                     {{"",
                       {{"Location", {&f.Combo1, &f.Button1}}},
                       "A stream (mms://, mmsh://, mmst://, mmsu://, http://, rtsp://, rtspt://, "
                       "rtspu://), a play list "
                       "(.asx, .wax, .wvx, .wmx) or a saved file."}}}};
    layout.Controls = {&f.Button3, &f.Button2};
    return layout;
  });
}

}  // namespace qor::gui
