// The editing commands of the editor window: Apply, the attribute grid, and the commands that
// change the shape of the document or write it out.

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QMimeData>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QUndoStack>

#include <vector>

#include "common/exception.h"
#include "editor/editor_window.h"
#include "editor/guard.h"
#include "editor/open_failure.h"
#include "editor/prompts.h"
#include "xmlmodel/edits.h"
#include "xmlmodel/fragment.h"
#include "xmlmodel/xml_obj.h"

namespace editor {

using xmlmodel::TEdit;
using xmlmodel::TOrbMainXML;
using xmlmodel::TOrbXMLItem;
using xmlmodel::TOrbXMLList;

namespace {

std::string ChooseXmlFile(const char *title) { return PromptFileName("*.xml", title); }

const char kSaveDocumentTitle[] = "Save the document as";

} // namespace

// ---------------------------------------------------------------------------------------------
// Panel

void TfrmXMLMain::RequireNode() const {
  if (FCurrentItem && FCurrentItem->IsNew)
    throw common::Exception("Apply the new node first");
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
    TOrbXMLItem *created = nullptr;
    if (!current->IsNew) {
      TOrbXMLItem *old = current->Item;
      // The memo of a node with child items is read-only: writing it would drop the children.
      const bool keepChildren = old->ChildItemCount() > 0;
      // The new node takes the old one's place: order is data in XML.
      RunEdit("Apply " + name, [&](TEdit &edit) {
        LeaveCurrentRow();
        created = edit.Create(*list, name, nodeType, old, old);
        if (!keepChildren)
          edit.SetText(created, value);
        edit.Delete(old);
        edit.CurrentAfter = created;
      });
    } else {
      RunEdit("Create " + name, [&](TEdit &edit) {
        created = edit.Create(*list, name, nodeType, nullptr);
        edit.SetText(created, value);
        edit.CurrentBefore = list->OwnerItem();
        edit.CurrentAfter = created;
      });
    }
    // What the tree shows as current is what the panel shows: the node just made.
    MakeCurrent(created);
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
    // A placeholder's grid shows no attribute of its own.
    if (!FCurrentItem || FCurrentItem->IsNew || row < 1)
      return true;
    TOrbXMLList &attributes = *FCurrentItem->Item->Attributes();
    if (row > attributes.Count())
      return true; // the "..." row stands for no attribute
    TOrbXMLItem *attribute = attributes.Items(row - 1);
    TOrbXMLItem *element = FCurrentItem->Item;
    RunEdit(
        "Edit attribute " + attribute->NodeName(),
        [&](TEdit &edit) {
          edit.SetText(attribute, text);
          edit.CurrentAfter = element;
        },
        FCellEdit);
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
  RequireNode();
  std::string name;
  if (!CurrentPrompts().InputQuery("Create New Attribute", "Attribut Name", name))
    return;
  TOrbXMLItem *element = FCurrentItem->Item;
  RunEdit("Add attribute " + name, [&](TEdit &edit) {
    edit.Create(*element->Attributes(), name, xmlmodel::ntAttribute, nullptr);
    edit.CurrentAfter = element;
  });
  ShowItem(FCurrentItem);
}

void TfrmXMLMain::actAttrDelExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  TOrbXMLItem *element = FCurrentItem->Item;
  TOrbXMLList &attributes = *element->Attributes();
  const int row = eAttr->currentRow() + 1;
  if (row < 1 || row > attributes.Count())
    return;
  TOrbXMLItem *attribute = attributes.Items(row - 1);
  RunEdit("Delete attribute " + attribute->NodeName(), [&](TEdit &edit) {
    edit.Delete(attribute);
    edit.CurrentAfter = element;
  });
  ShowItem(FCurrentItem);
}

// ---------------------------------------------------------------------------------------------
// Structure commands

void TfrmXMLMain::AddPlaceholder(bool into) {
  if (!FCurrentItem)
    return;
  RequireNode();
  TOrbXMLList *target = into ? FCurrentItem->Item->Children() : FCurrentItem->Item->OwnerList();
  auto placeholder = std::make_shared<TOrbXMLTreeItem>(nullptr);
  placeholder->OwnedItem = std::make_unique<TOrbXMLItem>(target);
  placeholder->Item = placeholder->OwnedItem.get();
  placeholder->IsNew = true;
  FCurrentItem = placeholder;
  eNodeName->setText(QStringLiteral("New Name..."));
  eNodeName->selectAll();
  eNodeName->setFocus();
  eNodeValueTxt->setReadOnly(false);
  eNodeValueTxt->clear();
  // The new node has no attributes yet: the grid must not offer the old node's for editing.
  ++FGridGeneration;
  const QSignalBlocker block(eAttr);
  eAttr->setRowCount(1);
  for (int column = 0; column < 2; ++column) {
    auto *cell = new QTableWidgetItem(QStringLiteral("..."));
    if (column == 0)
      cell->setFlags(Qt::ItemIsEnabled);
    eAttr->setItem(0, column, cell);
  }
}

void TfrmXMLMain::actAddExecute() { AddPlaceholder(false); }

void TfrmXMLMain::actAddIntoExecute() { AddPlaceholder(true); }

void TfrmXMLMain::actDeleteExecute() { DeleteCurrent("Delete "); }

void TfrmXMLMain::DeleteCurrent(const std::string &stepName) {
  if (!FCurrentItem)
    return;
  if (FCurrentItem->IsNew) {
    // Nothing was made yet: the placeholder goes and the selected node is current again.
    FCurrentItem = TreeItemAt(eTree->currentIndex());
    ShowItem(FCurrentItem);
    return;
  }
  TOrbXMLItem *item = FCurrentItem->Item;
  TOrbXMLList *list = item->OwnerList();
  if (!list || list->IndexOf(item) < 0)
    return; // the root element stays
  TOrbXMLItem *parent = list->OwnerItem();
  RunEdit(stepName + item->NodeName(), [&](TEdit &edit) {
    LeaveCurrentRow();
    edit.Delete(item);
    edit.CurrentAfter = parent;
  });
  // The parent is current; the view stays where the user was working.
  MakeCurrent(parent, false);
}

// The node goes on the clipboard as text and as XML, for this and other windows and programs.
void TfrmXMLMain::CopyToClipboard() {
  const std::string text = xmlmodel::NodeToXml(FCurrentItem->Item->Node());
  auto *mime = new QMimeData;
  mime->setText(QString::fromStdString(text));
  mime->setData(QStringLiteral("application/xml"), QByteArray::fromStdString(text));
  QGuiApplication::clipboard()->setMimeData(mime);
}

void TfrmXMLMain::actCopyExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  CopyToClipboard();
}

void TfrmXMLMain::actCutExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  if (!FCurrentItem->Item->OwnerList())
    throw common::Exception("The root element cannot be cut");
  CopyToClipboard();
  DeleteCurrent("Cut ");
}

void TfrmXMLMain::actPasteExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
  const QByteArray xml = mime ? mime->data(QStringLiteral("application/xml")) : QByteArray();
  const std::string text = !xml.isEmpty() ? xml.toStdString() : mime ? mime->text().toStdString() : std::string();
  TOrbXMLItem *target = FCurrentItem->Item;
  if (target->NodeType() != xmlmodel::ntElement)
    throw common::Exception("Only an element can hold the pasted nodes");
  const auto fragment = xmlmodel::TOrbXMLFragment::Parse(text);
  TOrbXMLList &nodes = *fragment->Nodes();
  RunEdit("Paste " + nodes.Items(0)->NodeName(), [&](TEdit &edit) {
    for (int i = 0; i < nodes.Count(); ++i) {
      TOrbXMLItem *node = nodes.Items(i);
      edit.Create(*target->Children(), node->NodeName(), node->NodeType(), node, nullptr, true);
    }
    edit.CurrentAfter = target;
  });
  MakeCurrent(target);
}

void TfrmXMLMain::ExpandSubtree(const QModelIndex &node) {
  eTreeExpanding(node);
  // Expanding to depth 0 leaves the view's layout pending, so that the rows expanded below are
  // only noted and the whole subtree is laid out once at the end. Only rows with children are
  // expanded (QTreeView::expandRecursively marks every leaf too: millions in a large file), each
  // fetched through eTreeExpanding before its rows are visited.
  eTree->expandRecursively(node, 0);
  std::vector<QModelIndex> pending{node};
  while (!pending.empty()) {
    const QModelIndex parent = pending.back();
    pending.pop_back();
    for (int row = 0, rows = FModel->rowCount(parent); row < rows; ++row) {
      const QModelIndex child = FModel->index(row, 0, parent);
      if (FModel->hasChildren(child)) {
        eTree->expand(child);
        pending.push_back(child);
      }
    }
  }
}

void TfrmXMLMain::actExpandExecute() {
  if (!FCurrentItem || FCurrentItem->IsNew)
    return;
  if (const QModelIndex node = IndexOf(FCurrentItem->Item); node.isValid())
    ExpandSubtree(node);
}

void TfrmXMLMain::actCollapseExecute() {
  if (!FCurrentItem || FCurrentItem->IsNew)
    return;
  const QModelIndex node = IndexOf(FCurrentItem->Item);
  if (!node.isValid())
    return;
  if (eTree->isExpanded(node))
    eTree->collapse(node); // eTreeCollapsed drops the subtree's rows
  else
    eTreeCollapsed(node);
}

void TfrmXMLMain::eTreeStartDrag() {
  FDragItem.reset();
  // A placeholder or unapplied edits mean the last selection change did not go through.
  if ((FCurrentItem && FCurrentItem->IsNew) || FPanelModified)
    return;
  FDragItem = TreeItemAt(eTree->currentIndex());
}

void TfrmXMLMain::CancelDrag() { FDragItem.reset(); }

bool TfrmXMLMain::eTreeEndDrag(const QModelIndex &target, bool copy) {
  const std::shared_ptr<TOrbXMLTreeItem> drag = std::move(FDragItem);
  FDragItem.reset();
  if (!target.isValid() || target.model() != FModel || !drag || drag->IsNew || !IndexOf(drag->Item).isValid())
    return false;
  TOrbXMLItem *dragged = drag->Item;
  TOrbXMLItem *targetItem = FModel->ItemAt(target);
  // A drop on the node itself or inside its own subtree would copy it into what is removed.
  if (IsInSubtree(targetItem, dragged))
    return false;
  if (!copy && !dragged->OwnerList())
    return false;
  TOrbXMLItem *created = nullptr;
  Guarded([&] {
    RunEdit((copy ? "Copy " : "Move ") + dragged->NodeName(), [&](TEdit &edit) {
      created = edit.Create(*targetItem->Children(), dragged->NodeName(), dragged->NodeType(), dragged, nullptr,
                            true);
      if (!copy)
        edit.Delete(dragged);
      edit.CurrentAfter = created;
    });
    MakeCurrent(created);
  });
  return created != nullptr;
}

void TfrmXMLMain::actInsertXMLExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  const std::string fileName = ChooseXmlFile("Choose the XML file to insert");
  if (fileName.empty())
    return;
  TOrbXMLItem *target = FCurrentItem->Item;
  auto source = std::make_unique<TOrbMainXML>();
  source->FileName = fileName;
  source->Load();
  TOrbXMLItem *root = source->RootItem();
  if (!root->HasNode())
    throw common::Exception(CannotOpenText(*source));
  RunEdit("Insert " + root->NodeName(), [&](TEdit &edit) {
    edit.Create(*target->Children(), root->NodeName(), xmlmodel::ntElement, root, nullptr, true);
    edit.CurrentAfter = target;
  });
  MakeCurrent(target);
}

void TfrmXMLMain::actSaveHereExecute() {
  if (!FCurrentItem)
    return;
  RequireNode();
  const std::string fileName = ChooseXmlFile("Save this element to the XML file");
  if (fileName.empty())
    return;
  xmlmodel::SaveElementToFile(FCurrentItem->Item->Node(), fileName);
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
  FUndoStack->setClean();
  FollowCleanState();
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
  FUndoStack->setClean();
  FollowCleanState();
}

} // namespace editor
