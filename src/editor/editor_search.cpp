#include "editor/editor_search.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editor/editor_window.h"
#include "editor/errors_panel.h"
#include "editor/find_bar.h"
#include "editor/guard.h"
#include "editor/progress.h"
#include "xmlmodel/node_path.h"
#include "xmlmodel/xsd_validate.h"

namespace editor {

namespace {

bool InDocument(const xmlNode *node, const xmlDoc *doc) {
  for (; node != nullptr; node = node->parent)
    if (node == reinterpret_cast<const xmlNode *>(doc))
      return true;
  return false;
}

} // namespace

TEditorSearch::TEditorSearch(TfrmXMLMain &window) : QObject(&window), FWindow(window) {
  pFind = new TFindBar(&window);
  pFind->hide();
  pErrors = new TErrorsPanel(&window);
  pErrors->hide();
  lWhere = new QLabel(&window);
  lWhere->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (auto *layout = qobject_cast<QBoxLayout *>(window.layout())) {
    layout->addWidget(pFind);
    layout->addWidget(pErrors);
    layout->addWidget(lWhere);
  }

  const auto make = [&](const char *caption, QKeySequence shortcut, auto handler) {
    auto *action = new QAction(QString::fromLatin1(caption), &window);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [handler] { Guarded(handler); });
    window.addAction(action);
    return action;
  };
  actValidate = make("Validate", Qt::Key_F7, [this] { actValidateExecute(); });
  actNextError = make("Next Error", Qt::Key_F8, [this] { pErrors->StepError(true); });
  actPreviousError = make("Previous Error", Qt::SHIFT | Qt::Key_F8, [this] { pErrors->StepError(false); });
  actFind = make("Find...", QKeySequence::Find, [this] { pFind->Activate(); });
  // The bar's F3 and Shift+F3 act anywhere in the window, and show the bar.
  for (QAction *action : {pFind->actFindNext, pFind->actFindPrevious}) {
    action->setShortcutContext(Qt::WindowShortcut);
    window.addAction(action);
    connect(action, &QAction::triggered, pFind, &QWidget::show);
  }
  actCopyXPath = make("Copy XPath", QKeySequence(), [this] { actCopyXPathExecute(); });

  FWindow.MainMenu1->addSeparator();
  FWindow.MainMenu1->addAction(actValidate);
  FWindow.MainMenu1->addAction(actNextError);
  FWindow.MainMenu1->addAction(actPreviousError);
  FWindow.MainMenu1->addAction(actFind);
  FWindow.MainMenu1->addAction(pFind->actFindNext);
  FWindow.MainMenu1->addAction(pFind->actFindPrevious);
  FWindow.pmTree->addSeparator();
  FWindow.pmTree->addAction(actCopyXPath);

  connect(pErrors, &TErrorsPanel::GoToNode, this, [this](xmlNode *node, int) { GoTo(node); });
  connect(pFind, &TFindBar::GoToNode, this, [this](xmlNode *node) { GoTo(node); });
  // Not on every move of the tree's selection: an edit in a list of 400,000 moves it through
  // rows whose paths each take a walk of their siblings.
  connect(&FWindow, &TfrmXMLMain::CurrentShown, this, [this] { CurrentChanged(); });
}

void TEditorSearch::DocumentSet() {
  xmlmodel::TOrbMainXML *document = FWindow.Document();
  pFind->SetDocument(document != nullptr ? &document->XMLDoc() : nullptr);
  CurrentChanged();
  if (document != nullptr && !document->ValidationReport.empty()) {
    // The document did not load: the errors of the file, with their lines and paths.
    const xmlmodel::XsdValidation load = xmlmodel::ValidateXmlFile(document->FileName, true);
    pErrors->ShowErrors(load.All);
    pErrors->show();
  }
}

void TEditorSearch::actValidateExecute() {
  xmlmodel::TOrbMainXML *document = FWindow.Document();
  if (document == nullptr)
    return;
  const xmlmodel::ValidationErrors result = RunWithProgress(
      &FWindow, "Validating...", [&](const xmlmodel::ProgressFn &progress) {
        return xmlmodel::ValidateDocument(*document, progress);
      });
  pErrors->ShowErrors(result);
  pErrors->show();
}

xmlNode *TEditorSearch::CurrentNode() const {
  const auto &current = FWindow.CurrentItem();
  return current && !current->IsNew && current->Item != nullptr ? current->Item->Node() : nullptr;
}

void TEditorSearch::actCopyXPathExecute() {
  if (xmlNode *node = CurrentNode())
    QApplication::clipboard()->setText(QString::fromStdString(xmlmodel::NodePath(node)));
}

QString TEditorSearch::WhereText() const {
  xmlNode *node = CurrentNode();
  if (node == nullptr)
    return {};
  const int line = xmlmodel::NodeLine(node);
  const QString path = QString::fromStdString(xmlmodel::NodePath(node));
  return line > 0 ? QString("%1   line %2").arg(path).arg(line) : path;
}

void TEditorSearch::CurrentChanged() {
  lWhere->setText(WhereText());
  pFind->SetCurrentNode(CurrentNode());
}

void TEditorSearch::GoTo(xmlNode *node) {
  xmlmodel::TOrbMainXML *document = FWindow.Document();
  // A node deleted since the list was made is not shown.
  if (node == nullptr || document == nullptr || !InDocument(node, document->XMLDoc().Doc()))
    return;
  Guarded([&] { FWindow.ShowNode(node); });
  CurrentChanged();
}

} // namespace editor
