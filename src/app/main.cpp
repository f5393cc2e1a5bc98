#include <QApplication>

#include "app/frame.h"
#include "xmlmodel/dom.h"

int main(int argc, char *argv[]) {
  xmlmodel::InitXmlLibrary();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("xmleditor"));
  app::TForm4 frame(QApplication::arguments());
  frame.show();
  return QApplication::exec();
}
