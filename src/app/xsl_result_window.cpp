#include "app/xsl_result_window.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QToolBar>
#include <QVBoxLayout>

#include "common/exception.h"
#include "editor/guard.h"
#include "editor/prompts.h"

namespace app {

TXslResultWindow::TXslResultWindow(std::string output, const QString &title, QWidget *parent)
    : QWidget(parent), FOutput(std::move(output)) {
  setWindowTitle(title);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto *bar = new QToolBar(this);
  actSaveAs = bar->addAction(QStringLiteral("Save As..."));
  actCopy = bar->addAction(QStringLiteral("Copy"));
  connect(actSaveAs, &QAction::triggered, this, [this] { editor::Guarded([this] { actSaveAsExecute(); }); });
  connect(actCopy, &QAction::triggered, this, [this] { actCopyExecute(); });
  layout->addWidget(bar);
  eText = new QPlainTextEdit(this);
  eText->setReadOnly(true);
  eText->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The whole result goes in at once; an undo history of it would only cost memory.
  eText->setUndoRedoEnabled(false);
  eText->setPlainText(QString::fromStdString(FOutput));
  layout->addWidget(eText);
}

void TXslResultWindow::actSaveAsExecute() {
  const std::string fileName = editor::PromptFileName("*.txt", "Save the result as");
  if (fileName.empty())
    return;
  // Written whole or not at all: an existing file is replaced only by a complete result.
  QSaveFile file(QString::fromStdString(fileName));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(FOutput.data(), static_cast<qint64>(FOutput.size())) != static_cast<qint64>(FOutput.size()) ||
      !file.commit())
    throw common::Exception("Cannot write " + fileName + ": " + file.errorString().toStdString());
}

void TXslResultWindow::actCopyExecute() {
  // A selection copies itself with Ctrl+C; the button takes the whole result.
  QGuiApplication::clipboard()->setText(QString::fromStdString(FOutput));
}

} // namespace app
