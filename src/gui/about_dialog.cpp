// About: the program's icon and name above the version lines the logic holds; the licence's full
// text and Qt's own about box behind two buttons.
#include "app/about_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_constants.h"
#include "gui/form_dialog.h"
#include "gui/program.h"

namespace qor::gui {

void RegisterAboutDialog() {
  BindForm<TAboutDialog>([](TAboutDialog& f) {
    FormLayout layout;
    layout.Pages = {{"", {{"", {{"", {&f.Memo1}}}, ""}}}};
    layout.Controls = {&f.OKButton};
    layout.Decorate = [](QDialog& dialog, QVBoxLayout& outer, QHBoxLayout& buttons) {
      auto* header = new QHBoxLayout;
      auto* icon = new QLabel(&dialog);
      icon->setObjectName("ProgramIcon");
      icon->setPixmap(ProgramIcon().pixmap(QSize(64, 64), dialog.devicePixelRatioF()));
      header->addWidget(icon);
      auto* title = new QLabel(QString("<b>%1</b> %2<br>Records Windows Media streams into files."
                                       "<br>Free software under the %3 licence.")
                                   .arg(kProductName, kProgramVersion, kLicenceName),
                               &dialog);
      header->addWidget(title, 1);
      outer.insertLayout(0, header);
      auto* licence = new QPushButton("&Licence", &dialog);
      licence->setObjectName("LicenceButton");
      licence->setAutoDefault(false);
      QObject::connect(licence, &QPushButton::clicked, &dialog, [&dialog] {
        QMessageBox box(&dialog);
        box.setWindowTitle("Licence");
        box.setText(kLicenceText);
        box.exec();
      });
      auto* toolkit = new QPushButton("About &Qt", &dialog);
      toolkit->setObjectName("AboutQtButton");
      toolkit->setAutoDefault(false);
      QObject::connect(toolkit, &QPushButton::clicked, &dialog, [] { QApplication::aboutQt(); });
      buttons.insertWidget(0, licence);
      buttons.insertWidget(1, toolkit);
    };
    return layout;
  });
}

}  // namespace qor::gui
