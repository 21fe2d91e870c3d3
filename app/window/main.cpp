// kavrimo: the one-window program. The application title comes from the executable's name.
#include <QApplication>

#include "app/window/app_identity.h"
#include "app/window/form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(
      kavrimo::TitleFromExecutable(QCoreApplication::applicationFilePath()));
  QApplication::setWindowIcon(kavrimo::ApplicationIcon());
  kavrimo::TForm1 Form1;
  Form1.show();
  return QApplication::exec();
}
