#include <gtest/gtest.h>

#include <string>

#include "app/form_controls.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

TEST(FormControls, StringListTextUsesCrLfAndSplitsEveryLineBreak) {
  TStringList list;
  list.SetText("mms://a/x\r\nhttp://b/y\nlast\rtail\r\n");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[1], "http://b/y");
  EXPECT_EQ(list[3], "tail");
  EXPECT_EQ(list.Text(), "mms://a/x\r\nhttp://b/y\r\nlast\r\ntail\r\n");
  list.Insert(0, "first");
  list.Insert(99, "end");
  list.Delete(-1);
  list.Delete(99);
  EXPECT_EQ(list[0], "first");
  EXPECT_EQ(list[list.Count() - 1], "end");
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  // Empty lines inside a list survive.
  list.SetText("a\r\n\r\nb");
  EXPECT_EQ(list.Count(), 3);
}

TEST(FormControls, LogKeepsTheColourCurrentWhenEachLineWasAdded) {
  TRichEdit log;
  int changes = 0;
  log.OnChange = [&] { ++changes; };
  log.CurrentColor = clBlue;
  log.Append("> one");
  log.CurrentColor = clRed;
  log.Append("> two\r\nXX YY\r\n");
  log.Append("");
  ASSERT_EQ(log.Count(), 4);
  EXPECT_EQ(log.Lines()[0], (TLogLine{"> one", clBlue}));
  EXPECT_EQ(log.Lines()[2], (TLogLine{"XX YY", clRed}));
  EXPECT_EQ(log.Lines()[3].Text, "");
  EXPECT_EQ(log.Text(), "> one\r\n> two\r\nXX YY\r\n\r\n");
  EXPECT_EQ(changes, 3);
  log.Clear();
  EXPECT_EQ(log.Count(), 0);
}

class TwoButtonForm : public TForm {
 public:
  TwoButtonForm() {
    Ok.ModalResult = mrOk;
    Ok.Default = true;
    Ok.OnClick = [this] { okResultSeen = ModalResult; };
    Cancel.ModalResult = mrCancel;
    Cancel.Cancel = true;
    Adopt(Ok);
    Adopt(Cancel);
  }
  void FormShow() override { events += "show;"; }
  void FormClose() override { events += "close;"; }
  TButton Ok, Cancel;
  std::string events;
  int32_t okResultSeen = -1;
};

TEST(FormControls, ModalFormsEndWithTheButtonsResultAndRunShowThenClose) {
  ScriptedDesktop desktop;
  TwoButtonForm form;
  int hidden = 0;
  form.OnHide = [&] { ++hidden; };
  desktop.ModalScripts.push_back([](TForm& f) { static_cast<TwoButtonForm&>(f).Ok.Click(); });
  EXPECT_EQ(desktop.ShowModal(form), mrOk);
  // The form has its result before the handler runs.
  EXPECT_EQ(form.okResultSeen, mrOk);
  EXPECT_EQ(form.events, "show;close;");
  EXPECT_FALSE(form.Visible);
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(form.DefaultButton(), &form.Ok);
  EXPECT_EQ(form.CancelButton(), &form.Cancel);

  // The close box gives Cancel; a second showing starts without the old result.
  EXPECT_EQ(desktop.ShowModal(form), mrCancel);
  EXPECT_EQ(form.events, "show;close;show;close;");
}

TEST(FormControls, ModelessFormsCloseOnceAndTellTheFrontEnd) {
  TwoButtonForm form;
  int hidden = 0;
  form.OnHide = [&] { ++hidden; };
  form.Show();
  EXPECT_TRUE(form.Visible);
  form.Close();
  form.Close();
  EXPECT_EQ(form.events, "show;close;");
  EXPECT_EQ(hidden, 1);
}

TEST(FormControls, ComboSelectionShowsTheItemAndIgnoresBadIndices) {
  TComboBox combo;
  combo.Items.SetText("a\r\nb");
  combo.Text = "typed";
  combo.SetItemIndex(5);
  EXPECT_EQ(combo.ItemIndex, -1);
  EXPECT_EQ(combo.Text, "typed");
  combo.SetItemIndex(1);
  EXPECT_EQ(combo.Text, "b");
  TCheckBox tick;
  bool seen = false;
  tick.OnClick = [&] { seen = tick.Checked; };
  tick.Click();
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace qor
