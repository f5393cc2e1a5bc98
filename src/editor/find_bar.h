#pragma once

#include <QWidget>

#include <libxml/tree.h>

#include <vector>

#include "xmlmodel/find.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace editor {

// The find bar: text with match case, whole word and regular expression, searched in the
// chosen kinds of place, or an XPath expression; Find Next (F3, Enter), Find Previous
// (Shift+F3) and Find All with the paths of what it found. Not modal: it sits in the window.
class TFindBar : public QWidget {
  Q_OBJECT
public:
  explicit TFindBar(QWidget *parent = nullptr);

  // The document to search (not owned), nullptr for none.
  void SetDocument(const xmlmodel::DomDocument *doc);
  // Where the window is: the next search goes on from there, unless it is where the last
  // search left off.
  void SetCurrentNode(xmlNode *node);
  // Puts the focus in the text box with its text selected.
  void Activate();

  void FindNext(bool forward);
  void FindAll();
  xmlmodel::FindOptions Options() const;

  QLineEdit *eFindText = nullptr;
  QCheckBox *chkMatchCase = nullptr, *chkWholeWord = nullptr, *chkRegex = nullptr, *chkXPath = nullptr;
  QCheckBox *chkNames = nullptr, *chkAttrNames = nullptr, *chkAttrValues = nullptr, *chkText = nullptr,
            *chkComments = nullptr;
  QPushButton *btnNext = nullptr, *btnPrevious = nullptr, *btnAll = nullptr;
  // F3 and Shift+F3 while the bar has the focus; a window may widen them to itself.
  QAction *actFindNext = nullptr, *actFindPrevious = nullptr;
  QLabel *lStatus = nullptr;
  QTreeWidget *eResults = nullptr;

signals:
  // A match was chosen: node is what the tree shows for it.
  void GoToNode(xmlNode *node);

private:
  const xmlmodel::DomDocument *FDoc = nullptr;
  xmlNode *FCurrent = nullptr;
  xmlmodel::FindHit FLast; // the last match gone to
  std::vector<xmlmodel::FindHit> FResults;
};

} // namespace editor
