#include "editor/errors_panel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace editor {

TErrorsPanel::TErrorsPanel(QWidget *parent) : QWidget(parent) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  lStatus = new QLabel(this);
  eErrors = new QTreeWidget(this);
  eErrors->setColumnCount(3);
  eErrors->setHeaderLabels({"Line", "Message", "Path"});
  eErrors->setRootIsDecorated(false);
  eErrors->setUniformRowHeights(true); // thousands of errors stay quick to show
  eErrors->setAllColumnsShowFocus(true);
  eErrors->header()->setStretchLastSection(true);
  layout->addWidget(lStatus);
  layout->addWidget(eErrors);
  // Double-click and Enter both activate.
  connect(eErrors, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item, int) { Activate(item); });
}

void TErrorsPanel::Clear() {
  FErrors.clear();
  eErrors->clear();
  lStatus->clear();
}

void TErrorsPanel::ShowErrors(const xmlmodel::ValidationErrors &result) {
  Clear();
  FErrors = result.Errors;
  QList<QTreeWidgetItem *> rows;
  rows.reserve(static_cast<int>(FErrors.size()));
  for (const xmlmodel::ValidationError &error : FErrors)
    rows.append(new QTreeWidgetItem(QStringList{QString::number(error.Line), QString::fromStdString(error.Message),
                                                QString::fromStdString(error.Path)}));
  eErrors->addTopLevelItems(rows);
  if (result.Cancelled)
    lStatus->setText(QString("Validation cancelled: %1 errors so far").arg(FErrors.size()));
  else if (FErrors.empty())
    lStatus->setText("The document is valid.");
  else if (result.NotListed > 0)
    lStatus->setText(QString("%1 errors, %2 more not listed").arg(FErrors.size()).arg(result.NotListed));
  else
    lStatus->setText(FErrors.size() == 1 ? QString("1 error") : QString("%1 errors").arg(FErrors.size()));
}

int TErrorsPanel::CurrentError() const {
  QTreeWidgetItem *item = eErrors->currentItem();
  return item != nullptr ? eErrors->indexOfTopLevelItem(item) : -1;
}

void TErrorsPanel::StepError(bool forward) {
  const int count = ErrorCount();
  if (count == 0)
    return;
  const int current = CurrentError();
  const int next = current < 0 ? (forward ? 0 : count - 1) : (current + (forward ? 1 : count - 1)) % count;
  QTreeWidgetItem *item = eErrors->topLevelItem(next);
  eErrors->setCurrentItem(item);
  Activate(item);
}

void TErrorsPanel::Activate(QTreeWidgetItem *item) {
  const int index = item != nullptr ? eErrors->indexOfTopLevelItem(item) : -1;
  if (index < 0 || index >= ErrorCount())
    return;
  const xmlmodel::ValidationError &error = FErrors[static_cast<std::size_t>(index)];
  emit GoToNode(error.Node, error.Line);
}

} // namespace editor
