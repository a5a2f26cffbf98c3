// The two password questions: the HTTP one before a request is sent again, the MMS one while
// the session waits for an answer.
#include "app/http_password_dlg.h"
#include "app/mms_password_dlg.h"
#include "gui/form_dialog.h"

namespace qor::gui {

void RegisterPasswordDialogs() {
  BindForm<THttpPasswordDlg>([](THttpPasswordDlg& f) {
    FormLayout layout;
    layout.Pages = {{"",
                     {{"",
                       {{"", {&f.Explanation}},
                        {f.UserIDWindow.Label, {&f.UserIDWindow}},
                        {f.PasswordWindow.Label, {&f.PasswordWindow}},
                        {"", {&f.SavePassTick}}},
                       ""}}}};
    layout.Controls = {&f.Button1, &f.Button2};
    return layout;
  });
  BindForm<TMmsPasswordDlg>([](TMmsPasswordDlg& f) {
    FormLayout layout;
    layout.Pages = {{"",
                     {{"",
                       {{"Server", {&f.Site}},
                        {"Realm", {&f.Realm}},
                        {f.Id.Label, {&f.Id}},
                        {f.Password.Label, {&f.Password}},
                        {"", {&f.SavePassTick}}},
                       ""}}}};
    layout.Controls = {&f.Button1, &f.Button2};
    return layout;
  });
}

}  // namespace qor::gui
