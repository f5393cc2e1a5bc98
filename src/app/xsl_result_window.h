#pragma once

#include <QWidget>

#include <string>

class QAction;
class QPlainTextEdit;

namespace app {

// The result of an XSL transformation as read-only text, with Save As and Copy. A plain text
// view lays out a result of many megabytes quickly, where a message box would not fit the screen.
class TXslResultWindow : public QWidget {
  Q_OBJECT
public:
  TXslResultWindow(std::string output, const QString &title, QWidget *parent = nullptr);

  const std::string &Output() const { return FOutput; }
  void actSaveAsExecute();
  void actCopyExecute();

  QPlainTextEdit *eText = nullptr;
  QAction *actSaveAs = nullptr;
  QAction *actCopy = nullptr;

private:
  std::string FOutput; // written by Save As byte for byte, as the transformation made it
};

} // namespace app
