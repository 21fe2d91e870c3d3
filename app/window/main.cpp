// kavrimo: the one-window program. The application title comes from the executable's name. SIGINT,
// SIGTERM, SIGHUP and SIGPIPE remove the temporary file of a conversion in progress before the
// program ends.
#include <QApplication>

#include "app/window/app_identity.h"
#include "app/window/form1.h"
#include "runtime/file.h"
#include "runtime/interrupt.h"

int main(int argc, char** argv) {
  kavrimo::ReserveStandardDescriptors();  // no image file becomes standard output
  kavrimo::InstallInterruptHandlers();    // an interrupted conversion leaves no temporary file
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(kavrimo::TitleFromExecutable(QCoreApplication::applicationFilePath()));
  QApplication::setWindowIcon(kavrimo::ApplicationIcon());
  kavrimo::TForm1 Form1;
  Form1.show();
  return QApplication::exec();
}
