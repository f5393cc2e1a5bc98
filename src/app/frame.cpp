#include "app/frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>

#include "editor/editor_window.h"
#include "editor/guard.h"
#include "editor/prompts.h"
#include "xmlmodel/xml_obj.h"
#include "xmlmodel/xsd_validate.h"
#include "xmlmodel/xsl_transform.h"

namespace app {

using editor::Guarded;
using editor::TfrmXMLMain;

TForm4::TForm4(QStringList arguments, QWidget *parent)
    : QMainWindow(parent), FArguments(std::move(arguments)) {
  setWindowTitle(QStringLiteral("XML"));
  setGeometry(367, 292, 621, 539);
  FMdiArea = new QMdiArea(this);
  setCentralWidget(FMdiArea);

  auto make = [this](const char *caption, QKeySequence shortcut, void (TForm4::*handler)()) {
    auto *action = new QAction(QString::fromLatin1(caption), this);
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return action;
  };
  actOpen = make("Open", QKeySequence(Qt::CTRL | Qt::Key_O), &TForm4::actOpenExecute);
  actNew = make("New", QKeySequence(Qt::CTRL | Qt::Key_N), &TForm4::actNewExecute);
  actValidateXSD = make("Validate XSD", {}, &TForm4::actValidateXSDExecute);
  actClose = make("Exit", {}, &TForm4::actCloseExecute);
  actXSLTransform = make("XSL Transform", {}, &TForm4::actXSLTransformExecute);

  SystemMenu = menuBar()->addMenu(QStringLiteral("System"));
  SystemMenu->addAction(actOpen);
  SystemMenu->addAction(actNew);
  SystemMenu->addAction(actValidateXSD);
  SystemMenu->addSeparator();
  SystemMenu->addAction(actClose);
  XslMenu = menuBar()->addMenu(QStringLiteral("XSL"));
  XslMenu->addAction(actXSLTransform);

  connect(FMdiArea, &QMdiArea::subWindowActivated, this, [this] { MergeChildMenu(); });
}

TForm4::~TForm4() {
  // Editor windows go while the frame is still whole: their menus leave its menu bar.
  disconnect(FMdiArea, nullptr, this, nullptr);
  QMdiArea *area = FMdiArea;
  FMdiArea = nullptr;
  delete area;
}

QList<TfrmXMLMain *> TForm4::EditorWindows() const {
  QList<TfrmXMLMain *> result;
  if (!FMdiArea)
    return result;
  for (QMdiSubWindow *window : FMdiArea->subWindowList())
    if (auto *editor = qobject_cast<TfrmXMLMain *>(window->widget()); editor && window->isVisible())
      result.append(editor);
  return result;
}

TfrmXMLMain *TForm4::ActiveEditor() const {
  if (!FMdiArea)
    return nullptr;
  QMdiSubWindow *window = FMdiArea->activeSubWindow();
  if (!window)
    window = FMdiArea->currentSubWindow();
  return window && window->isVisible() ? qobject_cast<TfrmXMLMain *>(window->widget()) : nullptr;
}

// The active editor's "XML" menu sits after the frame's own menus while it is active.
void TForm4::MergeChildMenu() {
  TfrmXMLMain *editor = ActiveEditor();
  QAction *wanted = editor ? editor->MainMenu1->menuAction() : nullptr;
  if (wanted == FMergedMenu)
    return;
  if (FMergedMenu)
    menuBar()->removeAction(FMergedMenu);
  if (FMergedEditMenu)
    menuBar()->removeAction(FMergedEditMenu);
  FMergedMenu = wanted;
  FMergedEditMenu = editor ? editor->MainMenu2->menuAction() : nullptr;
  if (wanted) {
    menuBar()->addAction(wanted);
    menuBar()->addAction(FMergedEditMenu); // "Edit" after "XML"
  }
}

TfrmXMLMain *TForm4::OpenEditor(std::unique_ptr<xmlmodel::TOrbMainXML> document) {
  auto *editor = new TfrmXMLMain;
  QMdiSubWindow *window = FMdiArea->addSubWindow(editor);
  window->setAttribute(Qt::WA_DeleteOnClose);
  // The merged menu must leave the menu bar with its window.
  connect(editor, &QObject::destroyed, this, [this] {
    FMergedMenu = nullptr;
    MergeChildMenu();
  });
  editor->SetDocument(std::move(document));
  window->showMaximized();
  FMdiArea->setActiveSubWindow(window);
  MergeChildMenu();
  return editor;
}

void TForm4::OpenFile(const std::string &fileName) {
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->FileName = fileName;
  document->Load();
  OpenEditor(std::move(document));
}

void TForm4::actOpenExecute() {
  const std::string fileName = editor::PromptFileName("*.xml");
  if (fileName.empty())
    return;
  OpenFile(fileName);
}

void TForm4::actNewExecute() {
  std::string name = "root";
  if (!editor::CurrentPrompts().InputQuery("Enter Root Element Name", "Name", name))
    return;
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->NewDocument(name);
  OpenEditor(std::move(document));
}

void TForm4::actValidateXSDExecute() {
  const std::string fileName = editor::PromptFileName("*.xml");
  if (fileName.empty())
    return;
  auto document = std::make_unique<xmlmodel::TOrbMainXSDValidate>();
  document->FileName = fileName;
  document->Load();
  xmlmodel::TOrbMainXML *shown = document.get();
  OpenEditor(std::move(document));
  editor::CurrentPrompts().ShowMessage(shown->ValidationReport);
}

void TForm4::actXSLTransformExecute() {
  const std::string xmlFile = editor::PromptFileName("*.xml");
  const std::string xslFile = editor::PromptFileName("*.xsl");
  xmlmodel::TOrbXSLTransform transform;
  transform.Transform(xmlFile, xslFile);
  editor::CurrentPrompts().ShowMessage(transform.Output);
}

void TForm4::actCloseExecute() { close(); }

void TForm4::FormShow() {
  if (FArguments.size() < 2)
    return;
  const QString fileName = FArguments.at(1);
  if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
    return;
  Guarded([&] { OpenFile(fileName.toStdString()); });
}

void TForm4::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    FormShow();
  }
}

void TForm4::closeEvent(QCloseEvent *event) {
  // Each editor window asks about its own changes; one that refuses keeps the frame open.
  for (QMdiSubWindow *window : FMdiArea->subWindowList()) {
    if (!window->isVisible())
      continue; // closed already, waiting to be deleted
    if (!window->close()) {
      event->ignore();
      return;
    }
  }
  event->accept();
}

} // namespace app
