#pragma once

#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "editor/tree_item.h"

class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
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

class TfrmXMLMain;

// The node tree: a QTreeWidget that hands drags and drops to its editor window.
class TXMLTree : public QTreeWidget {
  Q_OBJECT
public:
  explicit TXMLTree(TfrmXMLMain *owner);

protected:
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  Qt::DropActions supportedDropActions() const override;

private:
  TfrmXMLMain *FOwner;
};

// Caption of a tree node: the name, with "(children/descendants)" when it has child items.
std::string GetCaption(const TOrbXMLTreeItem &treeItem);

// One editor window per document: the node tree, the attribute grid and the node panel.
class TfrmXMLMain : public QWidget, private xmlmodel::TOrbXMLObserver {
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

  // Makes the item current: expands its ancestors (building only their lists), selects its tree
  // node and shows it in the panel. ShowNode does the same for the item of a DOM node of this
  // document (an attribute or a text shows its element).
  void MakeCurrent(xmlmodel::TOrbXMLItem *item);
  void ShowNode(xmlNode *node);

  void BuildTree();
  void FillChildren(QTreeWidgetItem *node);
  void ShowItem(const std::shared_ptr<TOrbXMLTreeItem> &treeItem);
  // The tree follows every change of the item tree row by row; this shows the current node
  // again after a command (its tree node and panel).
  void RefreshParent();
  // Runs the close prompt; true when the window may close.
  bool TryClose();
  // Tree item carried by a tree node (nullptr for none).
  static std::shared_ptr<TOrbXMLTreeItem> TreeItemOf(QTreeWidgetItem *node);
  // The tree node showing the item, when the tree shows it.
  QTreeWidgetItem *FindTreeNode(const xmlmodel::TOrbXMLItem *item) const;

  // Tree events.
  void eTreeExpanding(QTreeWidgetItem *node);
  void eTreeCollapsed(QTreeWidgetItem *node);
  void eTreeChange(QTreeWidgetItem *node);
  // Runs the automatic Apply before the selection moves; false when it failed (its error has
  // been shown and nothing changed).
  bool eTreeChanging(QTreeWidgetItem *node);
  void eTreeStartDrag();
  // Drops DragItem on the node shown by target (nullptr: empty space): moves it there, or with
  // copy puts a copy there. Returns whether the document changed; refused drops change nothing.
  bool eTreeEndDrag(QTreeWidgetItem *target, bool copy = false);
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

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  friend class TAttrDelegate;
  friend class TEditCommand;
  friend class TTreeNode;
  // Item tree changes, shown as rows inserted, removed or redrawn.
  void ItemInserted(xmlmodel::TOrbXMLList &list, int index) override;
  void ItemRemoved(xmlmodel::TOrbXMLList &list, int index) override;
  void UpdateCaptions(xmlmodel::TOrbXMLItem *item);
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
  // A tree node for a tree item, captioned, not yet in the tree.
  QTreeWidgetItem *MakeTreeNode(std::shared_ptr<TOrbXMLTreeItem> treeItem);
  // Adds one child tree node for a tree item.
  QTreeWidgetItem *AddTreeNode(QTreeWidgetItem *parent, std::shared_ptr<TOrbXMLTreeItem> treeItem);
  void ClearChildNodes(QTreeWidgetItem *node);
  void SelectSilently(QTreeWidgetItem *node);
  void OnCurrentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *previous);
  void ExpandSubtree(QTreeWidgetItem *node);
  void UpdateCaption();
  bool IsInSubtree(QTreeWidgetItem *node, QTreeWidgetItem *root) const;

  std::unique_ptr<xmlmodel::TOrbMainXML> FDocument;
  QUndoStack *FUndoStack = nullptr;
  // The tree node showing each item that has one.
  std::unordered_map<const xmlmodel::TOrbXMLItem *, QTreeWidgetItem *> FNodes;
  int FCellEdit = 0; // numbers each cell edit, whose keystrokes merge into one step
  std::shared_ptr<TOrbXMLTreeItem> FCurrentItem;
  std::shared_ptr<TOrbXMLTreeItem> FDragItem;
  bool FPanelModified = false;
  bool FHeaderShown = false;
  unsigned FGridGeneration = 0; // bumped whenever the grid is refilled; stale editors are ignored
  bool FInSelectionChange = false;
};

} // namespace editor
