#pragma once
// The log's printer: a QPrinter that the print dialog and the page setup dialog configure, and a
// QPainter that draws the lines where the print layout puts them. Units are the printer's dots
// at a fixed 600 dpi from the printable area's corner, so the layout's offsets mean the same on
// every printer, and on a PDF.

#include <memory>
#include <string>

#include "app/desktop_services.h"

class QFont;
class QPainter;
class QPrinter;

namespace qor::gui {

class QtPrinter : public TPrinter {
 public:
  QtPrinter();
  ~QtPrinter() override;

  // The printer the dialogs configure (also what a test points at a PDF file).
  QPrinter& Device() { return *printer_; }

  void SetTitle(const std::string& title) override;
  void SetFontSize(int32_t points) override;
  int32_t FontHeight() const override;
  int32_t PageWidth() const override;
  int32_t PageHeight() const override;
  void BeginDoc() override;
  void TextOut(int32_t x, int32_t y, const std::string& text) override;
  void NewPage() override;
  void EndDoc() override;

 private:
  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<QFont> font_;
};

}  // namespace qor::gui
