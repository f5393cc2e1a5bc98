#pragma once

#include <QWidget>

#include <libxml/tree.h>

#include "xmlmodel/xsd_validate.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace editor {

// The list of every error of a validation: line, message and path of the node. Activating an
// error (double-click, Enter) or stepping to the next or previous one asks for its node.
class TErrorsPanel : public QWidget {
  Q_OBJECT
public:
  explicit TErrorsPanel(QWidget *parent = nullptr);

  // Shows the errors of a validation; none means the document is valid, which it says.
  void ShowErrors(const xmlmodel::ValidationErrors &result);
  void Clear();
  int ErrorCount() const { return static_cast<int>(FErrors.size()); }
  int CurrentError() const; // -1 when none is selected

  // Selects the next (previous) error after the selected one, going round, and asks for its node.
  void StepError(bool forward);

  QTreeWidget *eErrors = nullptr;
  QLabel *lStatus = nullptr;

signals:
  // An error was chosen; node is nullptr when the error names none (then line tells where).
  void GoToNode(xmlNode *node, int line);

private:
  void Activate(QTreeWidgetItem *item);

  std::vector<xmlmodel::ValidationError> FErrors;
};

} // namespace editor
