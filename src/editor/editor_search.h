#pragma once

#include <QObject>

#include <libxml/tree.h>

class QAction;
class QLabel;

namespace editor {

class TErrorsPanel;
class TFindBar;
class TfrmXMLMain;

// The validation, find and where-am-I parts of an editor window: the errors panel, the find
// bar, a status line with the current node's path and line, and their actions (Validate F7 in
// the "XML" menu, F8 / Shift+F8, Find Ctrl+F, F3 / Shift+F3, Copy XPath in the tree's menu).
class TEditorSearch : public QObject {
  Q_OBJECT
public:
  explicit TEditorSearch(TfrmXMLMain &window);

  // The window has its document: the find bar searches it, and a failed validating load lists
  // every error of the file.
  void DocumentSet();
  // Validates the document as it stands in the window and lists every error.
  void actValidateExecute();
  void actCopyXPathExecute();
  // The current node's path and line, for the status line ("" when there is none).
  QString WhereText() const;

  TErrorsPanel *pErrors = nullptr;
  TFindBar *pFind = nullptr;
  QLabel *lWhere = nullptr;
  QAction *actValidate = nullptr;
  QAction *actNextError = nullptr;
  QAction *actPreviousError = nullptr;
  QAction *actFind = nullptr; // and pFind's actFindNext, actFindPrevious
  QAction *actCopyXPath = nullptr;

private:
  xmlNode *CurrentNode() const;
  void GoTo(xmlNode *node);
  void CurrentChanged();

  TfrmXMLMain &FWindow;
};

} // namespace editor
