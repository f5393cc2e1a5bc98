// The editing commands of the editor window: Apply, the attribute grid, and the commands that
// change the shape of the document or write it out.

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTableWidget>

#include "common/exception.h"
#include "editor/editor_window.h"
#include "editor/guard.h"
#include "editor/open_failure.h"
#include "editor/prompts.h"
#include "xmlmodel/xml_obj.h"

namespace editor {

using xmlmodel::TOrbMainXML;
using xmlmodel::TOrbXMLItem;
using xmlmodel::TOrbXMLList;

namespace {

// Writes the text of a node Apply has just created; when the DOM refuses it, the new node goes
// again so a failed Apply leaves no half-made copy behind.
void SetTextOrUndo(TOrbXMLList &list, TOrbXMLItem *created, const std::string &text) {
  try {
    created->SetText(text);
  } catch (...) {
    list.DeleteItem(created);
    throw;
  }
}

std::string ChooseXmlFile(const char *title) { return PromptFileName("*.xml", title); }

const char kSaveDocumentTitle[] = "Save the document as";

} // namespace

// ---------------------------------------------------------------------------------------------
// Panel

// The item tree flags only node creation as a change; attribute edits and deletions change the
// file just as much, and closing must not drop them without asking.
void TfrmXMLMain::MarkModified() {
  if (FDocument && !FDocument->Modified) {
    FDocument->Modified = true;
    UpdateCaption();
  }
}

void TfrmXMLMain::eNodeNameChange() { FPanelModified = true; }

void TfrmXMLMain::Button1Click() {
  Guarded([this] { Apply(); });
}

void TfrmXMLMain::Apply() {
  if (FCurrentItem) {
    const std::shared_ptr<TOrbXMLTreeItem> current = FCurrentItem;
    const std::string name = eNodeName->text().toStdString();
    const int nodeType = eNodeType->currentIndex();
    const std::string value = eNodeValueTxt->toPlainText().toStdString();
    TOrbXMLList *list = current->Item->OwnerList();
    if (!list)
      throw common::EAbort("Cannot make new node here");
    if (!current->IsNew) {
      TOrbXMLItem *old = current->Item;
      // The memo of a node with child items is read-only: writing it would drop the children.
      const bool keepChildren = old->Children()->Count() > 0;
      TOrbXMLItem *created = list->CreateNode(name, nodeType, old);
      if (!keepChildren)
        SetTextOrUndo(*list, created, value);
      list->DeleteItem(old);
      RefreshParentSelecting({created});
    } else {
      TOrbXMLItem *created = list->CreateNode(name, nodeType, nullptr);
      SetTextOrUndo(*list, created, value);
      const std::shared_ptr<TOrbXMLTreeItem> &parent = current->ParentTreeItem;
      ShowItem(parent ? parent->ParentTreeItem : nullptr);
      RefreshParentSelecting({});
      SelectSilently(FindTreeNode(created));
    }
  }
  eTree->setFocus();
  FPanelModified = false;
}

// ---------------------------------------------------------------------------------------------
// Attribute grid

QString TfrmXMLMain::AttributeText(int row) const {
  try {
    if (FCurrentItem && row >= 1) {
      TOrbXMLList &attributes = *FCurrentItem->Item->Attributes();
      if (row <= attributes.Count())
        return QString::fromStdString(attributes.Items(row - 1)->Text());
    }
  } catch (const std::exception &) {
  }
  return {};
}

bool TfrmXMLMain::eAttrSetEditText(int, int row, const std::string &text) {
  try {
    if (!FCurrentItem || row < 1)
      return true;
    TOrbXMLList &attributes = *FCurrentItem->Item->Attributes();
    if (row > attributes.Count())
      return true; // the "..." row stands for no attribute
    attributes.Items(row - 1)->SetText(text);
    MarkModified();
    return true;
  } catch (const std::exception &) {
    // A refused value leaves the attribute as it was; the cell shows that value again.
    if (QTableWidgetItem *cell = eAttr->item(row - 1, 1)) {
      const QSignalBlocker block(eAttr);
      cell->setText(AttributeText(row));
    }
    return false;
  }
}

void TfrmXMLMain::actAttrAddExecute() {
  if (!FCurrentItem)
    return;
  std::string name;
  if (!CurrentPrompts().InputQuery("Create New Attribute", "Attribut Name", name))
    return;
  FCurrentItem->Item->Attributes()->CreateNode(name, xmlmodel::ntAttribute, nullptr);
  ShowItem(FCurrentItem);
}

void TfrmXMLMain::actAttrDelExecute() {
  if (!FCurrentItem)
    return;
  TOrbXMLList &attributes = *FCurrentItem->Item->Attributes();
  const int row = eAttr->currentRow() + 1;
  if (row < 1 || row > attributes.Count())
    return;
  attributes.DeleteItem(attributes.Items(row - 1));
  MarkModified();
  ShowItem(FCurrentItem);
}

// ---------------------------------------------------------------------------------------------
// Structure commands

void TfrmXMLMain::AddPlaceholder(bool into) {
  if (!FCurrentItem)
    return;
  TOrbXMLList *target = into ? FCurrentItem->Item->Children() : FCurrentItem->Item->OwnerList();
  auto placeholder =
      std::make_shared<TOrbXMLTreeItem>(into ? FCurrentItem : FCurrentItem->ParentTreeItem, nullptr);
  placeholder->OwnedItem = std::make_unique<TOrbXMLItem>(target);
  placeholder->Item = placeholder->OwnedItem.get();
  placeholder->IsNew = true;
  FCurrentItem = placeholder;
  eNodeName->setText(QStringLiteral("New Name..."));
  eNodeName->selectAll();
  eNodeName->setFocus();
  eNodeValueTxt->setReadOnly(false);
  eNodeValueTxt->clear();
}

void TfrmXMLMain::actAddExecute() { AddPlaceholder(false); }

void TfrmXMLMain::actAddIntoExecute() { AddPlaceholder(true); }

void TfrmXMLMain::actDeleteExecute() {
  if (!FCurrentItem)
    return;
  const std::shared_ptr<TOrbXMLTreeItem> current = FCurrentItem;
  const std::shared_ptr<TOrbXMLTreeItem> &parent = current->ParentTreeItem;
  if (TOrbXMLList *list = current->Item->OwnerList(); list && list->IndexOf(current->Item) >= 0) {
    list->DeleteItem(current->Item);
    MarkModified();
  }
  if (current->IsNew) {
    RefreshParentSelecting({});
    return;
  }
  // The deleted item is gone: select its parent (the root stays, nothing was removed there).
  RefreshParentSelecting({parent ? parent->Item : current->Item});
}

void TfrmXMLMain::ExpandSubtree(QTreeWidgetItem *node) {
  {
    const QSignalBlocker block(eTree);
    node->setExpanded(true);
  }
  eTreeExpanding(node);
  for (int i = 0; i < node->childCount(); ++i)
    ExpandSubtree(node->child(i));
}

void TfrmXMLMain::actExpandExecute() {
  if (!FCurrentItem || !FCurrentItem->TreeNode)
    return;
  ExpandSubtree(FCurrentItem->TreeNode);
}

void TfrmXMLMain::actCollapseExecute() {
  if (!FCurrentItem || !FCurrentItem->TreeNode)
    return;
  QTreeWidgetItem *node = FCurrentItem->TreeNode;
  if (node->isExpanded())
    node->setExpanded(false); // eTreeCollapsed discards the subtree's nodes
  else
    eTreeCollapsed(node);
}

void TfrmXMLMain::eTreeStartDrag() {
  FDragItem.reset();
  // A placeholder or unapplied edits mean the last selection change did not go through.
  if ((FCurrentItem && FCurrentItem->IsNew) || FPanelModified)
    return;
  FDragItem = TreeItemOf(eTree->currentItem());
}

void TfrmXMLMain::CancelDrag() { FDragItem.reset(); }

bool TfrmXMLMain::eTreeEndDrag(QTreeWidgetItem *target) {
  const std::shared_ptr<TOrbXMLTreeItem> drag = std::move(FDragItem);
  FDragItem.reset();
  if (!target || !drag || !drag->TreeNode || drag->IsNew || target->treeWidget() != eTree)
    return false;
  // A drop on the node itself or inside its own subtree would copy it into what is removed.
  if (IsInSubtree(target, drag->TreeNode))
    return false;
  TOrbXMLList *from = drag->Item->OwnerList();
  if (!from)
    return false;
  const std::shared_ptr<TOrbXMLTreeItem> targetItem = TreeItemOf(target);
  bool moved = false;
  Guarded([&] {
    TOrbXMLItem *created =
        targetItem->Item->Children()->CreateNode(drag->Item->NodeName(), drag->Item->NodeType(), drag->Item);
    moved = true;
    from->DeleteItem(drag->Item);
    FCurrentItem = drag;
    RefreshParentSelecting(
        {created, targetItem->Item, drag->ParentTreeItem ? drag->ParentTreeItem->Item : nullptr});
  });
  return moved;
}

void TfrmXMLMain::actInsertXMLExecute() {
  if (!FCurrentItem)
    return;
  const std::string fileName = ChooseXmlFile("Choose the XML file to insert");
  if (fileName.empty())
    return;
  TOrbXMLList *children = FCurrentItem->Item->Children();
  {
    auto source = std::make_unique<TOrbMainXML>();
    source->FileName = fileName;
    source->Load();
    TOrbXMLItem *root = source->RootItem();
    if (!root->HasNode())
      throw common::Exception(CannotOpenText(*source));
    children->CreateNode(root->NodeName(), xmlmodel::ntElement, root);
  }
  RefreshParent();
}

void TfrmXMLMain::actSaveHereExecute() {
  if (!FCurrentItem)
    return;
  const std::string fileName = ChooseXmlFile("Save this element to the XML file");
  if (fileName.empty())
    return;
  TOrbXMLItem *item = FCurrentItem->Item;
  auto target = std::make_unique<TOrbMainXML>();
  target->NewDocument(item->NodeName());
  TOrbXMLList &children = *item->Children();
  for (int i = 0; i < children.Count(); ++i) {
    TOrbXMLItem *child = children.Items(i);
    target->RootChildren()->CreateNode(child->NodeName(), child->NodeType(), child);
  }
  target->FileName = fileName;
  target->Save();
}

void TfrmXMLMain::SaveDocument() {
  if (!FDocument)
    return;
  if (FDocument->FileName.empty()) {
    // A new document has no file yet: ask for one rather than fail.
    const std::string fileName = ChooseXmlFile(kSaveDocumentTitle);
    if (fileName.empty())
      throw common::EAbort();
    FDocument->FileName = fileName;
  }
  FDocument->Save();
  UpdateCaption();
}

void TfrmXMLMain::actSaveExecute() { SaveDocument(); }

void TfrmXMLMain::actSaveAsExecute() {
  if (!FDocument)
    return;
  const std::string fileName = ChooseXmlFile(kSaveDocumentTitle);
  if (fileName.empty())
    return;
  FDocument->FileName = fileName;
  FDocument->Save();
  UpdateCaption();
}

} // namespace editor
