#pragma once

#include <QTreeView>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "editor/tree_item.h"
#include "editor/xml_tree_model.h"

class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTabWidget;
class QUndoStack;

namespace xmlmodel {
class TEdit;
class TOrbMainXML;
class TOrbXMLItem;
class TOrbXMLList;
} // namespace xmlmodel

namespace editor {

class TEditorSearch;
class TfrmXMLMain;

// The node tree: a view of the window's TXmlTreeModel that hands drags and drops to the window.
class TXMLTree : public QTreeView {
  Q_OBJECT
public:
  explicit TXMLTree(TfrmXMLMain *owner);

protected:
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  TfrmXMLMain *FOwner;
};

// One editor window per document: the node tree, the attribute grid and the node panel.
class TfrmXMLMain : public QWidget {
  Q_OBJECT
public:
  explicit TfrmXMLMain(QWidget *parent = nullptr);
  ~TfrmXMLMain() override;

  // Takes the document over for the window's lifetime and shows it.
  void SetDocument(std::unique_ptr<xmlmodel::TOrbMainXML> document);
  xmlmodel::TOrbMainXML *Document() const { return FDocument.get(); }
  const std::shared_ptr<TOrbXMLTreeItem> &CurrentItem() const { return FCurrentItem; }
  bool PanelModified() const { return FPanelModified; }
  const std::shared_ptr<TOrbXMLTreeItem> &DragItem() const { return FDragItem; }
  // Every change of the document is one step here; its clean state is the saved document.
  QUndoStack *UndoStack() const { return FUndoStack; }

  // Makes the item current: expands its ancestors (building only their lists), selects its row
  // (scrolled into view unless scroll is false) and shows it in the panel. ShowNode does the
  // same for the item of a DOM node of this document (an attribute or a text shows its element).
  void MakeCurrent(xmlmodel::TOrbXMLItem *item, bool scroll = true);
  void ShowNode(xmlNode *node);

  void BuildTree();
  void ShowItem(const std::shared_ptr<TOrbXMLTreeItem> &treeItem);
  // Runs the close prompt; true when the window may close.
  bool TryClose();
  // Says in the node panel that the document did not load, and why.
  void ShowNotLoaded(const std::string &reason);
  // Positions of both splitters, so windows opened later get the layout the user chose.
  QByteArray SplitterState() const;
  void SetSplitterState(const QByteArray &state);
  TXmlTreeModel *TreeModel() const { return FModel; }
  // The tree row showing the item, when the tree shows it.
  QModelIndex IndexOf(const xmlmodel::TOrbXMLItem *item) const { return FModel->IndexOf(item); }

  // Tree events.
  void eTreeExpanding(const QModelIndex &node);
  void eTreeCollapsed(const QModelIndex &node);
  void eTreeChange(const QModelIndex &node);
  // Runs the automatic Apply before the selection moves; false when it failed (its error has
  // been shown and nothing changed).
  bool eTreeChanging(const QModelIndex &node);
  void eTreeStartDrag();
  // Drops DragItem on the row target (invalid: empty space): moves it there, or with copy puts
  // a copy there. Returns whether the document changed; refused drops change nothing.
  bool eTreeEndDrag(const QModelIndex &target, bool copy = false);
  void CancelDrag();

  // Panel and grid.
  void eNodeNameChange();
  void Button1Click();
  // Grid row numbers count the header row: row r shows attribute r - 1. Returns false when the
  // DOM refused the value (the attribute keeps its old one).
  bool eAttrSetEditText(int column, int row, const std::string &text);
  // Text of the attribute shown in grid row r (empty when there is none).
  QString AttributeText(int row) const;
  void actAttrAddExecute();
  void actAttrDelExecute();

  // Structure commands.
  void actAddExecute();
  void actAddIntoExecute();
  void actDeleteExecute();
  void actExpandExecute();
  void actCollapseExecute();
  void actInsertXMLExecute();
  void actSaveHereExecute();
  void actSaveExecute();
  void actSaveAsExecute();
  void ActExcelImportExecute();
  void actCutExecute();
  void actCopyExecute();
  void actPasteExecute();

  // Runs one command that changes the document as one undo step named name: body records its
  // changes in the edit. When body fails, what it did is taken back and the error propagates.
  // Steps with the same mergeKey (>= 0) that follow each other become one.
  void RunEdit(const std::string &name, const std::function<void(xmlmodel::TEdit &)> &body, int mergeKey = -1);

  // Components.
  TXMLTree *eTree = nullptr;
  QTableWidget *eAttr = nullptr;
  QLineEdit *eNodeName = nullptr;
  QComboBox *eNodeType = nullptr;
  QPushButton *Button1 = nullptr;
  QTabWidget *Notebook1 = nullptr;
  QPlainTextEdit *eNodeValueTxt = nullptr;
  QMenu *pmTree = nullptr;
  QMenu *pmAttr = nullptr;
  QMenu *MainMenu1 = nullptr; // the "XML" menu merged into the frame's menu bar
  QMenu *MainMenu2 = nullptr; // the "Edit" menu, merged after it
  QSplitter *Splitter1 = nullptr; // tree and grid above, node panel below
  QSplitter *Splitter2 = nullptr; // tree left, grid right

  QAction *actSave = nullptr;
  QAction *actSaveAs = nullptr;
  QAction *actDelete = nullptr;
  QAction *actAdd = nullptr;
  QAction *actAddInto = nullptr;
  QAction *actExpand = nullptr;
  QAction *actCollapse = nullptr;
  QAction *actInsertXML = nullptr;
  QAction *actSaveHere = nullptr;
  QAction *ActExcelImport = nullptr;
  QAction *actAttrAdd = nullptr;
  QAction *actAttrDel = nullptr;
  QAction *actUndo = nullptr;
  QAction *actRedo = nullptr;
  QAction *actCut = nullptr;
  QAction *actCopy = nullptr;
  QAction *actPaste = nullptr;

signals:
  // The panel shows another node, or the same one afresh.
  void CurrentShown();
  // A line for the frame's status bar.
  void StatusMessage(const QString &text);
  // The user dragged a splitter.
  void SplitterMoved();

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  friend class TAttrDelegate;
  friend class TEditCommand;
  // After an undo or redo: the step's item is current and the caption follows the stack.
  void StepDone(xmlmodel::TOrbXMLItem *current);
  void FollowCleanState();
  // Refuses a command that needs a node while a placeholder stands for one.
  void RequireNode() const;
  void CopyToClipboard();
  // Delete and Cut: the current node goes as one step named stepName and its name.
  void DeleteCurrent(const std::string &stepName);
  void CreateComponents();
  void CreateActions();
  // Close prompt; true when the window may close.
  bool FormClose();
  void Apply();
  void SaveDocument();
  void AddPlaceholder(bool into);
  // A tree item for the item of a row (nullptr for none).
  std::shared_ptr<TOrbXMLTreeItem> TreeItemAt(const QModelIndex &node) const;
  void SelectSilently(const QModelIndex &node);
  // Before the current row goes: with no current row the view does not move its current to a
  // neighbour and lay out every row around it once more. The command then makes a node current.
  void LeaveCurrentRow();
  void OnCurrentChanged(const QModelIndex &current);
  void ExpandSubtree(const QModelIndex &node);
  void UpdateCaption();

  std::unique_ptr<xmlmodel::TOrbMainXML> FDocument;
  QUndoStack *FUndoStack = nullptr;
  TXmlTreeModel *FModel = nullptr;
  int FCellEdit = 0; // numbers each cell edit, whose keystrokes merge into one step
  std::shared_ptr<TOrbXMLTreeItem> FCurrentItem;
  std::shared_ptr<TOrbXMLTreeItem> FDragItem;
  bool FPanelModified = false;
  bool FHeaderShown = false;
  unsigned FGridGeneration = 0; // bumped whenever the grid is refilled; stale editors are ignored
  // Set while the window moves the selection itself (an edit moving rows, a node made current):
  // such moves do not reach eTreeChange.
  bool FOwnSelection = false;
  TEditorSearch *FSearch = nullptr; // validation, find and the current node's path; a child
};

} // namespace editor
