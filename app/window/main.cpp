// kavrimo: the one-window program.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("ArcGIS raster to Miradel image converter");
  window.show();
  return app.exec();
}
