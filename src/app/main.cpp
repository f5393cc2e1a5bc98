#include <QApplication>

#include "app/frame.h"
#include "common/cli.h"
#include "xmlmodel/dom.h"

namespace {
// Other options are Qt's own (-platform, -style, ...) and go to QApplication as they are.
const common::TCliTool kTool{
    "xmleditor", "[FILE.xml]", "Starts the XML editor, opening FILE.xml when it names an existing file.", {}};
} // namespace

int main(int argc, char *argv[]) {
  // Answered before QApplication exists, so they work without a display.
  if (auto status = common::AnswerHelpOrVersion(argc, argv, kTool))
    return *status;
  xmlmodel::InitXmlLibrary();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("xmleditor"));
  app::TForm4 frame(QApplication::arguments());
  frame.show();
  return QApplication::exec();
}
