#include "editor/editor_window.h"
#include "editor/editor_search.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDataStream>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>

#include "common/exception.h"
#include "editor/excel_import_command.h"
#include "editor/guard.h"
#include "editor/prompts.h"
#include "xmlmodel/edits.h"
#include "xmlmodel/xml_obj.h"

namespace editor {

using xmlmodel::TOrbMainXML;
using xmlmodel::TOrbXMLItem;
using xmlmodel::TOrbXMLList;

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

// How much of the read-only text of a node with child items the memo shows.
constexpr std::size_t kReadOnlyTextLimit = 64 * 1024;

const char *const kNodeTypeNames[] = {
    "ntReserved",        "ntElement", "ntAttribute", "ntText",    "ntCData",       "ntEntityRef", "ntEntity",
    "ntProcessingInstr", "ntComment", "ntDocument",  "ntDocType", "ntDocFragment", "ntNotation"};

// Sets a flag for a scope, then puts back what it was.
class TFlagScope {
public:
  explicit TFlagScope(bool &flag) : FFlag(flag), FOld(flag) { flag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope &) = delete;
  TFlagScope &operator=(const TFlagScope &) = delete;

private:
  bool &FFlag;
  bool FOld;
};

} // namespace

// One step on the undo stack: a thin wrapper over the edit, which its command has already made.
class TEditCommand : public QUndoCommand {
public:
  TEditCommand(TfrmXMLMain *window, std::unique_ptr<xmlmodel::TEdit> edit, int mergeKey)
      : QUndoCommand(QString::fromStdString(edit->Name())), FWindow(window), FEdit(std::move(edit)),
        FMergeKey(mergeKey) {}
  void undo() override {
    {
      const TFlagScope own(FWindow->FOwnSelection);
      FEdit->Revert();
    }
    FWindow->StepDone(FEdit->CurrentBefore);
  }
  void redo() override {
    if (FMade) {
      FMade = false; // pushed after its command made it
      return;
    }
    {
      const TFlagScope own(FWindow->FOwnSelection);
      FEdit->Apply();
    }
    FWindow->StepDone(FEdit->CurrentAfter);
  }
  int id() const override { return FMergeKey; }
  bool mergeWith(const QUndoCommand *other) override {
    return FEdit->Merge(*static_cast<const TEditCommand *>(other)->FEdit);
  }

private:
  TfrmXMLMain *FWindow;
  std::unique_ptr<xmlmodel::TEdit> FEdit;
  int FMergeKey;
  bool FMade = true;
};

// Cell editor of the attribute grid: every change of the edited text reaches the document.
class TAttrDelegate : public QStyledItemDelegate {
public:
  explicit TAttrDelegate(TfrmXMLMain *owner) : QStyledItemDelegate(owner), FOwner(owner) {}

  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                        const QModelIndex &index) const override {
    auto *edit = new QLineEdit(parent);
    edit->setFrame(false);
    const int column = index.column();
    const int row = index.row() + 1; // grid rows count the header row
    const unsigned generation = FOwner->FGridGeneration;
    ++FOwner->FCellEdit; // the keystrokes of this editor are one step
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [this, edit, column, row, generation](const QString &text) {
                       if (generation != FOwner->FGridGeneration)
                         return; // the grid shows another node by now
                       if (!FOwner->eAttrSetEditText(column, row, text.toStdString())) {
                         const QSignalBlocker block(edit);
                         edit->setText(FOwner->AttributeText(row));
                       }
                     });
    return edit;
  }

private:
  TfrmXMLMain *FOwner;
};

// ---------------------------------------------------------------------------------------------
// Tree with drag and drop

TXMLTree::TXMLTree(TfrmXMLMain *owner) : QTreeView(owner), FOwner(owner) {
  setHeaderHidden(true);
  setIndentation(19);
  // Every caption is one line: the view then need not measure the rows above one it scrolls to,
  // which for a root with 400,000 children took seconds at each selection.
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

void TXMLTree::startDrag(Qt::DropActions) {
  FOwner->eTreeStartDrag();
  if (!FOwner->DragItem())
    return;
  // Copy only: the move is done by the window, Qt must never remove rows itself.
  QTreeView::startDrag(Qt::CopyAction);
  FOwner->CancelDrag();
}

void TXMLTree::dragEnterEvent(QDragEnterEvent *event) {
  if (event->source() != this) {
    event->ignore(); // drags from other windows are refused
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void TXMLTree::dragMoveEvent(QDragMoveEvent *event) {
  if (event->source() != this) {
    event->ignore();
    return;
  }
  QTreeView::dragMoveEvent(event); // auto-scroll and the drop highlight
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void TXMLTree::dropEvent(QDropEvent *event) {
  if (event->source() != this) {
    event->ignore();
    return;
  }
  const QModelIndex target = indexAt(event->position().toPoint());
  // The base class would insert the dragged rows itself: end its drag state here instead.
  stopAutoScroll();
  setState(NoState);
  viewport()->update();
  FOwner->eTreeEndDrag(target, event->modifiers() & Qt::ControlModifier);
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// Window construction

TfrmXMLMain::TfrmXMLMain(QWidget *parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("XML"));
  resize(604, 452);
  FUndoStack = new QUndoStack(this);
  FModel = new TXmlTreeModel(this);
  connect(FUndoStack, &QUndoStack::indexChanged, this, [this] { FollowCleanState(); });
  connect(FUndoStack, &QUndoStack::cleanChanged, this, [this] { FollowCleanState(); });
  CreateComponents();
  CreateActions();
  FSearch = new TEditorSearch(*this);
  ShowItem(nullptr);
}

TfrmXMLMain::~TfrmXMLMain() {
  // Steps and tree nodes point at items of the document: drop them before the document goes.
  FUndoStack->disconnect(this);
  delete FUndoStack;
  FUndoStack = nullptr;
  FCurrentItem.reset();
  FDragItem.reset();
  FOwnSelection = true;
  FModel->SetDocument(nullptr);
}

void TfrmXMLMain::CreateComponents() {
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setHandleWidth(4);
  Splitter1->setChildrenCollapsible(false);
  outer->addWidget(Splitter1);

  Splitter2 = new QSplitter(Qt::Horizontal, Splitter1);
  Splitter2->setHandleWidth(4);
  Splitter2->setChildrenCollapsible(false);

  // pMain: the tree.
  eTree = new TXMLTree(this);
  eTree->setObjectName(QStringLiteral("eTree"));
  eTree->setModel(FModel);
  Splitter2->addWidget(eTree);

  // pAttr: the grid above the empty pInsp.
  auto *pAttr = new QWidget(Splitter2);
  auto *attrLayout = new QVBoxLayout(pAttr);
  attrLayout->setContentsMargins(0, 0, 0, 0);
  attrLayout->setSpacing(0);
  eAttr = new QTableWidget(1, 2, pAttr);
  eAttr->setObjectName(QStringLiteral("eAttr"));
  eAttr->setHorizontalHeaderLabels({QString(), QString()});
  eAttr->verticalHeader()->hide();
  eAttr->verticalHeader()->setDefaultSectionSize(18);
  eAttr->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  eAttr->horizontalHeader()->setStretchLastSection(false);
  eAttr->setColumnWidth(0, 80);
  eAttr->setColumnWidth(1, 90);
  eAttr->setShowGrid(true);
  eAttr->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  eAttr->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  eAttr->setSelectionMode(QAbstractItemView::SingleSelection);
  eAttr->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  eAttr->setItemDelegateForColumn(1, new TAttrDelegate(this));
  eAttr->setContextMenuPolicy(Qt::CustomContextMenu);
  attrLayout->addWidget(eAttr, 1);
  auto *pInsp = new QWidget(pAttr);
  pInsp->setFixedHeight(42);
  attrLayout->addWidget(pInsp);
  Splitter2->addWidget(pAttr);
  Splitter2->setStretchFactor(0, 1);
  Splitter2->setStretchFactor(1, 0);
  Splitter2->setSizes({604 - 185 - 4, 185});

  // pValue: name, type and Apply on the left, the memo on a notebook page on the right.
  auto *pValue = new QWidget(Splitter1);
  auto *valueLayout = new QHBoxLayout(pValue);
  valueLayout->setContentsMargins(0, 0, 0, 0);
  valueLayout->setSpacing(0);
  auto *pValue1 = new QWidget(pValue);
  pValue1->setFixedWidth(160);
  eNodeName = new QLineEdit(pValue1);
  eNodeName->setObjectName(QStringLiteral("eNodeName"));
  eNodeName->setGeometry(8, 8, 145, 21);
  eNodeType = new QComboBox(pValue1);
  eNodeType->setObjectName(QStringLiteral("eNodeType"));
  eNodeType->setEditable(false);
  for (const char *name : kNodeTypeNames)
    eNodeType->addItem(QString::fromLatin1(name));
  eNodeType->setGeometry(8, 32, 145, 21);
  Button1 = new QPushButton(QStringLiteral("Apply"), pValue1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(8, 96, 145, 23);
  Button1->setDefault(true);
  valueLayout->addWidget(pValue1);
  Notebook1 = new QTabWidget(pValue);
  eNodeValueTxt = new QPlainTextEdit;
  eNodeValueTxt->setObjectName(QStringLiteral("eNodeValueTxt"));
  eNodeValueTxt->setLineWrapMode(QPlainTextEdit::NoWrap);
  eNodeValueTxt->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  eNodeValueTxt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Notebook1->addTab(eNodeValueTxt, QStringLiteral("Default"));
  valueLayout->addWidget(Notebook1, 1);

  Splitter1->addWidget(Splitter2);
  Splitter1->addWidget(pValue);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({452 - 129 - 4, 129});

  connect(Splitter1, &QSplitter::splitterMoved, this, &TfrmXMLMain::SplitterMoved);
  connect(Splitter2, &QSplitter::splitterMoved, this, &TfrmXMLMain::SplitterMoved);
  connect(eTree, &QTreeView::expanded, this,
          [this](const QModelIndex &node) { Guarded([&] { eTreeExpanding(node); }); });
  connect(eTree, &QTreeView::collapsed, this, [this](const QModelIndex &node) { eTreeCollapsed(node); });
  connect(eTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex &current) { OnCurrentChanged(current); });
  connect(eNodeName, &QLineEdit::textChanged, this, [this] { eNodeNameChange(); });
  connect(eNodeType, &QComboBox::currentIndexChanged, this, [this] { eNodeNameChange(); });
  connect(eNodeValueTxt, &QPlainTextEdit::textChanged, this, [this] { eNodeNameChange(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  // Enter applies from the name and the type list (a default button reacts only in dialogs).
  connect(eNodeName, &QLineEdit::returnPressed, this, [this] { Button1Click(); });
  eNodeType->installEventFilter(this);
}

void TfrmXMLMain::CreateActions() {
  auto make = [this](const char *caption, QKeySequence shortcut, Qt::ShortcutContext context,
                     void (TfrmXMLMain::*handler)()) {
    auto *action = new QAction(QString::fromLatin1(caption), this);
    if (!shortcut.isEmpty()) {
      action->setShortcut(shortcut);
      action->setShortcutContext(context);
    }
    connect(action, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return action;
  };
  const auto window = Qt::WidgetWithChildrenShortcut;
  const auto tree = Qt::WidgetShortcut;
  actSave = make("Save", QKeySequence(Qt::CTRL | Qt::Key_S), window, &TfrmXMLMain::actSaveExecute);
  actSaveAs = make("Save As...", QKeySequence(Qt::Key_F12), window, &TfrmXMLMain::actSaveAsExecute);
  actDelete = make("Delete", QKeySequence(Qt::Key_Delete), tree, &TfrmXMLMain::actDeleteExecute);
  actAdd = make("Create New", QKeySequence(Qt::Key_Insert), tree, &TfrmXMLMain::actAddExecute);
  actAddInto =
      make("Create New Into", QKeySequence(Qt::CTRL | Qt::Key_Insert), tree, &TfrmXMLMain::actAddIntoExecute);
  actExpand = make("Expand", QKeySequence(Qt::Key_F5), window, &TfrmXMLMain::actExpandExecute);
  actCollapse = make("Collapse", QKeySequence(Qt::Key_F4), window, &TfrmXMLMain::actCollapseExecute);
  actInsertXML = make("Insert XML Here", {}, window, &TfrmXMLMain::actInsertXMLExecute);
  actSaveHere = make("Save This Element To XML", {}, window, &TfrmXMLMain::actSaveHereExecute);
  ActExcelImport = make("Excel Import", {}, window, &TfrmXMLMain::ActExcelImportExecute);
  actAttrAdd = make("Create New", {}, window, &TfrmXMLMain::actAttrAddExecute);
  actAttrDel = make("Delete", {}, window, &TfrmXMLMain::actAttrDelExecute);

  actCut = make("Cut", QKeySequence(Qt::CTRL | Qt::Key_X), tree, &TfrmXMLMain::actCutExecute);
  actCopy = make("Copy", QKeySequence(Qt::CTRL | Qt::Key_C), tree, &TfrmXMLMain::actCopyExecute);
  actPaste = make("Paste", QKeySequence(Qt::CTRL | Qt::Key_V), tree, &TfrmXMLMain::actPasteExecute);
  // Their texts name the step: "Undo Delete order".
  actUndo = FUndoStack->createUndoAction(this, QStringLiteral("Undo"));
  actUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  actUndo->setShortcutContext(tree);
  actRedo = FUndoStack->createRedoAction(this, QStringLiteral("Redo"));
  actRedo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  actRedo->setShortcutContext(tree);

  // Window-wide shortcuts live on the window, tree-only ones on the tree: in the name field, the
  // memo and the grid the editing keys keep their text meaning.
  addActions({actSave, actSaveAs, actExpand, actCollapse});
  eTree->addActions({actDelete, actAdd, actAddInto, actUndo, actRedo, actCut, actCopy, actPaste});

  pmTree = new QMenu(this);
  pmTree->addAction(actAdd);
  pmTree->addAction(actAddInto);
  pmTree->addSeparator();
  pmTree->addAction(actInsertXML);
  pmTree->addAction(actSaveHere);
  pmTree->addAction(ActExcelImport);
  pmTree->addSeparator();
  pmTree->addAction(actDelete);
  pmTree->addSeparator();
  pmTree->addAction(actExpand);
  pmTree->addAction(actCollapse);
  pmAttr = new QMenu(this);
  pmAttr->addAction(actAttrAdd);
  pmAttr->addAction(actAttrDel);
  connect(eTree, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &pos) { pmTree->popup(eTree->viewport()->mapToGlobal(pos)); });
  connect(eAttr, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &pos) { pmAttr->popup(eAttr->viewport()->mapToGlobal(pos)); });

  MainMenu1 = new QMenu(QStringLiteral("XML"), this);
  MainMenu1->addAction(actSave);
  MainMenu1->addAction(actSaveAs);
  MainMenu2 = new QMenu(QStringLiteral("Edit"), this);
  MainMenu2->addAction(actUndo);
  MainMenu2->addAction(actRedo);
  MainMenu2->addSeparator();
  MainMenu2->addAction(actCut);
  MainMenu2->addAction(actCopy);
  MainMenu2->addAction(actPaste);
}

bool TfrmXMLMain::eventFilter(QObject *watched, QEvent *event) {
  if (watched == eNodeType && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Button1Click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Document and tree

void TfrmXMLMain::SetDocument(std::unique_ptr<TOrbMainXML> document) {
  FUndoStack->clear();
  FDocument = std::move(document);
  // A document handed over with changes can never be back at its saved state by undoing.
  if (FDocument->Modified)
    FUndoStack->resetClean();
  BuildTree();
  FCurrentItem.reset();
  ShowItem(nullptr);
  FSearch->DocumentSet();
}

void TfrmXMLMain::ShowNotLoaded(const std::string &reason) {
  eNodeValueTxt->setPlaceholderText(QStringLiteral("The document did not load.\n") + Q(reason));
}

QByteArray TfrmXMLMain::SplitterState() const {
  QByteArray state;
  QDataStream out(&state, QIODevice::WriteOnly);
  out << Splitter1->saveState() << Splitter2->saveState();
  return state;
}

void TfrmXMLMain::SetSplitterState(const QByteArray &state) {
  QDataStream in(state);
  QByteArray outer, inner;
  in >> outer >> inner;
  if (in.status() != QDataStream::Ok)
    return; // nothing kept yet, or from another layout: keep the design sizes
  Splitter1->restoreState(outer);
  Splitter2->restoreState(inner);
}

std::shared_ptr<TOrbXMLTreeItem> TfrmXMLMain::TreeItemAt(const QModelIndex &node) const {
  TOrbXMLItem *item = FModel->ItemAt(node);
  return item ? std::make_shared<TOrbXMLTreeItem>(item) : nullptr;
}

void TfrmXMLMain::BuildTree() {
  FModel->SetDocument(FDocument && FDocument->RootItem()->HasNode() ? FDocument.get() : nullptr);
  const QModelIndex root = FModel->index(0, 0);
  if (!root.isValid())
    return;
  eTree->expand(root);
  eTreeExpanding(root);
}

void TfrmXMLMain::eTreeExpanding(const QModelIndex &node) {
  // A node found without child items stops offering to expand.
  FModel->fetchMore(node);
}

void TfrmXMLMain::eTreeCollapsed(const QModelIndex &node) {
  const QPersistentModelIndex collapsed(node);
  const QModelIndex current = eTree->currentIndex();
  if (current.isValid() && current != node && IsInSubtree(FModel->ItemAt(current), FModel->ItemAt(node))) {
    // The selection leaves the rows about to go first, through the usual selection change.
    eTree->setCurrentIndex(node);
    if (!collapsed.isValid())
      return;
  }
  FModel->Unfetch(collapsed);
}

void TfrmXMLMain::SelectSilently(const QModelIndex &node) {
  QItemSelectionModel *selection = eTree->selectionModel();
  {
    const TFlagScope own(FOwnSelection);
    selection->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect);
  }
  // A mouse press goes on to select the row it hit after the change is reported; put the
  // highlight back on the current node once it is done.
  QTimer::singleShot(0, this, [this, selection] {
    const TFlagScope own(FOwnSelection);
    const QModelIndex current = selection->currentIndex();
    if (current.isValid())
      selection->select(current, QItemSelectionModel::ClearAndSelect);
    else
      selection->clearSelection();
  });
}

void TfrmXMLMain::LeaveCurrentRow() {
  const TFlagScope own(FOwnSelection);
  eTree->selectionModel()->clearCurrentIndex();
}

void TfrmXMLMain::OnCurrentChanged(const QModelIndex &changed) {
  if (FOwnSelection)
    return;
  const TFlagScope own(FOwnSelection);
  QModelIndex current = changed;
  if (FPanelModified) {
    TOrbXMLItem *target = FModel->ItemAt(current);
    // The target goes with the applied node when it lies in that node's subtree.
    if (target && FCurrentItem && !FCurrentItem->IsNew && IsInSubtree(target, FCurrentItem->Item))
      target = nullptr;
    // A failed Apply has shown its error and changed nothing; the selection still moves on, so
    // a panel the document refuses cannot hold the user on one node.
    eTreeChanging(current);
    current = IndexOf(target);
    if (!current.isValid())
      current = eTree->currentIndex();
    SelectSilently(current);
  }
  eTreeChange(current);
}

bool TfrmXMLMain::eTreeChanging(const QModelIndex &) {
  if (!FPanelModified)
    return true;
  return Guarded([this] { Apply(); }) != GuardResult::Failed;
}

void TfrmXMLMain::eTreeChange(const QModelIndex &node) {
  FCurrentItem = TreeItemAt(node);
  Guarded([this] { ShowItem(FCurrentItem); });
}

void TfrmXMLMain::ShowItem(const std::shared_ptr<TOrbXMLTreeItem> &treeItem) {
  if (treeItem) {
    TOrbXMLItem *item = treeItem->Item;
    eNodeName->setEnabled(true);
    eNodeType->setEnabled(true);
    eNodeValueTxt->setEnabled(true);
    const int type = item->NodeType();
    eNodeType->setCurrentIndex(type >= 0 && type < eNodeType->count() ? type : -1);
    eNodeName->setText(Q(item->NodeName()));
    // A node with child items keeps them on Apply, so its text is not editable here.
    const bool hasChildren = item->ChildItemCount() > 0;
    // That text joins every descendant's: near the root of a large file it is the whole file,
    // which the memo would take seconds to lay out at every selection, and joining it whole
    // alone takes a tenth of a second.
    std::string text = hasChildren ? item->Text(kReadOnlyTextLimit + 1) : item->Text();
    if (hasChildren && text.size() > kReadOnlyTextLimit) {
      std::size_t cut = kReadOnlyTextLimit;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
      text.resize(cut);
      text += "\n[...]";
    }
    eNodeValueTxt->setPlainText(Q(text));
    eNodeValueTxt->setReadOnly(hasChildren);

    TOrbXMLList &attributes = *item->Attributes();
    ++FGridGeneration;
    const QSignalBlocker block(eAttr);
    if (attributes.Count() != 0) {
      eAttr->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
      eAttr->setRowCount(attributes.Count());
      for (int i = 0; i < attributes.Count(); ++i) {
        auto *name = new QTableWidgetItem(Q(attributes.Items(i)->NodeName()));
        name->setFlags(Qt::ItemIsEnabled);
        eAttr->setItem(i, 0, name);
        eAttr->setItem(i, 1, new QTableWidgetItem(Q(attributes.Items(i)->Text())));
      }
    } else {
      eAttr->setRowCount(1);
      auto *name = new QTableWidgetItem(QStringLiteral("..."));
      name->setFlags(Qt::ItemIsEnabled);
      eAttr->setItem(0, 0, name);
      eAttr->setItem(0, 1, new QTableWidgetItem(QStringLiteral("...")));
    }
  } else {
    eNodeName->clear();
    eNodeValueTxt->clear();
    eNodeValueTxt->setEnabled(false);
    eNodeName->setEnabled(false);
    eNodeType->setEnabled(false);
  }
  UpdateCaption();
  FPanelModified = false;
  emit CurrentShown();
}

void TfrmXMLMain::UpdateCaption() {
  if (!FDocument)
    return;
  const QString name = Q(FDocument->FileName);
  setWindowTitle(FDocument->Modified ? QStringLiteral("*") + name : name);
}

void TfrmXMLMain::MakeCurrent(TOrbXMLItem *item, bool scroll) {
  if (!item || !FDocument)
    return;
  std::vector<TOrbXMLItem *> chain;
  for (TOrbXMLItem *up = item; up; up = up->OwnerList() ? up->OwnerList()->OwnerItem() : nullptr)
    chain.push_back(up);
  if (chain.back() != FDocument->RootItem())
    return;
  // Down from the root, each ancestor shows its children (an item taken out of the tree by an
  // undone step has no row there and ends the walk).
  for (size_t i = chain.size() - 1; i > 0; --i) {
    const QModelIndex node = IndexOf(chain[i]);
    if (!node.isValid())
      return;
    if (!eTree->isExpanded(node))
      eTree->expand(node);
    eTreeExpanding(node);
  }
  const QModelIndex node = IndexOf(item);
  if (!node.isValid())
    return;
  FCurrentItem = TreeItemAt(node);
  // Selecting scrolls the view to the row (its auto-scroll); without scroll it stays put.
  const int top = eTree->verticalScrollBar()->value();
  SelectSilently(node);
  if (scroll)
    eTree->scrollTo(node);
  else
    eTree->verticalScrollBar()->setValue(top);
  ShowItem(FCurrentItem);
}

void TfrmXMLMain::ShowNode(xmlNode *node) {
  if (!node || !FDocument || !FDocument->RootItem()->HasNode())
    return;
  if (node->type == XML_ATTRIBUTE_NODE || node->type == XML_TEXT_NODE)
    node = node->parent;
  std::vector<xmlNode *> chain;
  for (xmlNode *up = node; up && up != FDocument->RootItem()->Node(); up = up->parent)
    chain.push_back(up);
  TOrbXMLItem *item = FDocument->RootItem();
  for (auto it = chain.rbegin(); it != chain.rend() && item; ++it) {
    TOrbXMLList &children = *item->Children();
    TOrbXMLItem *found = nullptr;
    for (int i = 0; i < children.Count() && !found; ++i)
      if (children.Items(i)->Node() == *it)
        found = children.Items(i);
    item = found;
  }
  MakeCurrent(item);
}

void TfrmXMLMain::RunEdit(const std::string &name, const std::function<void(xmlmodel::TEdit &)> &body,
                          int mergeKey) {
  auto edit = std::make_unique<xmlmodel::TEdit>(name);
  edit->CurrentBefore = FCurrentItem && !FCurrentItem->IsNew ? FCurrentItem->Item : nullptr;
  try {
    const TFlagScope own(FOwnSelection);
    body(*edit);
  } catch (...) {
    // A command that fails leaves the document as it found it.
    {
      const TFlagScope own(FOwnSelection);
      edit->Revert();
    }
    if (FCurrentItem && !FCurrentItem->IsNew)
      SelectSilently(IndexOf(FCurrentItem->Item));
    FollowCleanState();
    throw;
  }
  if (edit->Empty())
    return;
  FUndoStack->push(new TEditCommand(this, std::move(edit), mergeKey));
  FollowCleanState();
}

void TfrmXMLMain::StepDone(TOrbXMLItem *current) {
  if (current)
    MakeCurrent(current);
  else
    ShowItem(FCurrentItem);
  FollowCleanState();
}

void TfrmXMLMain::FollowCleanState() {
  if (!FDocument || !FUndoStack)
    return;
  FDocument->Modified = !FUndoStack->isClean();
  UpdateCaption();
}

// ---------------------------------------------------------------------------------------------
// Close prompt

bool TfrmXMLMain::FormClose() {
  if (!FDocument || !FDocument->Modified)
    return true;
  const std::string text =
      common::Format("File %s has been changed.\r\n Do you want save?", FDocument->FileName.c_str());
  switch (CurrentPrompts().Confirm("Confirm", text)) {
  case Prompts::Answer::Yes: return Guarded([this] { SaveDocument(); }) == GuardResult::Done;
  case Prompts::Answer::No: return true;
  case Prompts::Answer::Cancel: break;
  }
  return false;
}

void TfrmXMLMain::closeEvent(QCloseEvent *event) {
  if (FormClose())
    event->accept();
  else
    event->ignore();
}

bool TfrmXMLMain::TryClose() { return FormClose(); }

void TfrmXMLMain::ActExcelImportExecute() { RunExcelImport(*this); }

} // namespace editor
