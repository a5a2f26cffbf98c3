#include "gui/qt_desktop.h"

#include <QPageSetupDialog>
#include <QPrintDialog>

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "gui/form_dialog.h"

namespace qor::gui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

QtDesktop::QtDesktop() {
  RegisterProgramForms();
}

QtDesktop::~QtDesktop() {
  CloseDialogs();
}

void QtDesktop::CloseDialogs() {
  for (auto& [form, dialog] : open_) {
    form->OnHide = nullptr;
    delete dialog.data();
  }
  open_.clear();
}

int32_t QtDesktop::MessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                              uint32_t buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  switch (type) {
    case TMsgDlgType::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case TMsgDlgType::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case TMsgDlgType::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case TMsgDlgType::Confirmation:
      box.setIcon(QMessageBox::Question);
      break;
  }
  const std::pair<uint32_t, std::pair<QMessageBox::StandardButton, int32_t>> mapping[] = {
      {mbOK, {QMessageBox::Ok, mrOk}},
      {mbCancel, {QMessageBox::Cancel, mrCancel}},
      {mbYes, {QMessageBox::Yes, mrYes}},
      {mbNo, {QMessageBox::No, mrNo}},
      {mbAbort, {QMessageBox::Abort, mrAbort}},
      {mbRetry, {QMessageBox::Retry, mrRetry}},
      {mbIgnore, {QMessageBox::Ignore, mrIgnore}}};
  QMessageBox::StandardButtons shown;
  for (const auto& [bit, pair] : mapping) {
    if (buttons & bit) shown |= pair.first;
  }
  if (!shown) shown = QMessageBox::Ok;
  box.setStandardButtons(shown);
  const int pressed = box.exec();
  for (const auto& [bit, pair] : mapping) {
    if (pressed == pair.first) return pair.second;
  }
  return mrCancel;
}

QStringList QtDesktop::ConvertFilter(const std::string& filter) {
  QStringList entries;
  const QStringList parts = Q(filter).split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      const QString trimmed = pattern.trimmed();
      if (!trimmed.isEmpty()) patterns << trimmed;
    }
    entries << parts[i].trimmed() + " (" + patterns.join(' ') + ")";
  }
  return entries;
}

std::optional<std::string> QtDesktop::FileDialog(const TFileDialogRequest& request, bool save) {
  QFileDialog dialog(parent_, Q(request.Title));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList filters = ConvertFilter(request.Filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const qsizetype index = request.FilterIndex - 1;
    if (index >= 0 && index < filters.size()) dialog.selectNameFilter(filters[index]);
  }
  if (!request.InitialDir.empty()) dialog.setDirectory(Q(request.InitialDir));
  if (!request.DefaultExt.empty()) dialog.setDefaultSuffix(Q(request.DefaultExt));
  if (!request.FileName.empty()) dialog.selectFile(Q(request.FileName));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
  dialog.setObjectName(save ? "qorSaveDialog" : "qorOpenDialog");
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first().toStdString();
}

std::optional<std::string> QtDesktop::OpenFileDialog(const TFileDialogRequest& request) {
  return FileDialog(request, false);
}

std::optional<std::string> QtDesktop::SaveFileDialog(const TFileDialogRequest& request) {
  return FileDialog(request, true);
}

int32_t QtDesktop::ShowModal(TForm& form) {
  const FormBinder* binder = FindFormBinder(form);
  form.BeginModal();
  if (!binder) {
    // A form nobody has bound yet is not shown as nothing: the user learns what was skipped.
    MessageBox("The dialog \"" + form.Caption + "\" is not available in this version.", "Qor",
               TMsgDlgType::Warning, mbOK);
    form.Close();
    return form.EndModal();
  }
  FormDialog dialog(form, (*binder)(form), OnError, parent_);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setObjectName(QString("qorForm_") + Q(form.Name.empty() ? "form" : form.Name));
  QEventLoop loop;
  auto check = [&form, &loop] {
    if (form.ModalDone()) loop.quit();
  };
  dialog.OnForwarded = check;
  std::function<void()> outer = std::move(modal_check_);
  modal_check_ = [&dialog, check] {
    dialog.Sync();
    check();
  };
  dialog.show();
  if (!form.ModalDone()) loop.exec();
  modal_check_ = std::move(outer);
  dialog.hide();
  return form.EndModal();
}

void QtDesktop::ShowModeless(TForm& form) {
  auto found = open_.find(&form);
  if (found != open_.end() && found->second) {
    form.Show();
    found->second->Sync();
    found->second->show();
    found->second->raise();
    found->second->activateWindow();
    return;
  }
  const FormBinder* binder = FindFormBinder(form);
  if (!binder) {
    MessageBox("The dialog \"" + form.Caption + "\" is not available in this version.", "Qor",
               TMsgDlgType::Warning, mbOK);
    return;
  }
  auto* dialog = new FormDialog(form, (*binder)(form), OnError, parent_);
  dialog->setObjectName(QString("qorForm_") + Q(form.Name.empty() ? "form" : form.Name));
  open_[&form] = dialog;
  form.OnHide = [dialog] { dialog->hide(); };
  form.Show();
  dialog->Sync();
  dialog->show();
}

bool QtDesktop::PrintDialog() {
  // Qt's own dialog offers "Print to File (PDF)" beside the system's printers, so printing works
  // on a machine without any.
  QPrintDialog dialog(&printer_.Device(), parent_);
  dialog.setObjectName("qorPrintDialog");
  dialog.setWindowTitle("Print Log");
  return dialog.exec() == QDialog::Accepted;
}

void QtDesktop::PrinterSetupDialog() {
  QPageSetupDialog dialog(&printer_.Device(), parent_);
  dialog.setObjectName("qorPageSetupDialog");
  dialog.setWindowTitle("Print Setup");
  dialog.exec();
}

void QtDesktop::Repaint() {
  if (OnRepaint) OnRepaint();
}

int32_t QtDesktop::OpenWithShell(const std::string& target) {
  // The desktop starts the opener detached: a player that runs for an hour never holds the
  // window thread.
  const QString text = Q(target);
  const QUrl url = QFileInfo::exists(text) ? QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath())
                                           : QUrl::fromUserInput(text);
  return QDesktopServices::openUrl(url) ? 42 : 2;
}

void QtDesktop::Notify(const std::string& summary, const std::string& body) {
  if (OnNotify) {
    OnNotify(summary, body);
    return;
  }
  notifier_.Send(Q(summary), Q(body));
}

void QtDesktop::Served() {
  for (auto& [form, dialog] : open_) {
    if (dialog && dialog->isVisible()) dialog->Sync();
  }
  if (modal_check_) modal_check_();
}

}  // namespace qor::gui
