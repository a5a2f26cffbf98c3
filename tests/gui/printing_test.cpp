// Print Log through Qt's print dialog into a PDF, read back with pdftotext.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/main_form.h"
#include "app/print_layout.h"
#include "gui_fixture.h"

namespace qor::gui {
namespace {

std::string Output(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

std::string Numbered(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "log line %03d", i);
  return text;
}

TEST_F(GuiTest, PrintToPdfPrintsEveryLogLineInOrderOverSeveralPages) {
  constexpr int kLines = 150;
  for (int i = 1; i <= kLines; ++i) Form().Messages.Post(Numbered(i), mcNotice);
  ASSERT_TRUE(RunUntil([&] { return Shown(QString::fromStdString(Numbered(kLines))); }));

  // No printer is needed: the dialog is answered with Qt's PDF writer.
  const std::string pdf = folder_.Path("log.pdf");
  QPrinter& printer = program_->Desktop().QPrinterOf().Device();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf));
  bool asked = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
    if (!dialog || asked) return;
    asked = true;
    // On a machine with printers the dialog starts on the default one: the PDF writer is
    // chosen as a user would choose it, and the file named in its field.
    if (auto* printers = dialog->findChild<QComboBox*>("printers")) {
      const int pdfEntry = printers->findText("PDF", Qt::MatchContains);
      if (pdfEntry >= 0) printers->setCurrentIndex(pdfEntry);
    }
    if (auto* name = dialog->findChild<QLineEdit*>("filename"))
      name->setText(QString::fromStdString(pdf));
    dialog->accept();
  });
  answer.start(20);
  auto* print = Window().findChild<QAction*>("Print1");
  ASSERT_NE(print, nullptr);
  print->trigger();
  EXPECT_TRUE(asked);

  const std::string info = Output("pdfinfo '" + pdf + "' 2>&1");
  const auto pagesAt = info.find("Pages:");
  ASSERT_NE(pagesAt, std::string::npos) << info;
  EXPECT_GE(std::stoi(info.substr(pagesAt + 6)), 3) << info;

  // Every line once, in the order logged, between the start and end lines; a form feed between
  // pages.
  const std::string text = Output("pdftotext '" + pdf + "' - 2>&1");
  size_t at = text.find(kPrintStartLine);
  ASSERT_NE(at, std::string::npos) << text;
  for (int i = 1; i <= kLines; ++i) {
    const size_t next = text.find(Numbered(i), at);
    ASSERT_NE(next, std::string::npos) << Numbered(i) << " missing or out of order";
    at = next;
  }
  EXPECT_NE(text.find(kPrintEndLine, at), std::string::npos);
  EXPECT_NE(text.find('\f'), std::string::npos);
}

}  // namespace
}  // namespace qor::gui
