#pragma once

// Helpers shared by the editor window tests: fixture copies, windows on documents, tree lookups.

#include <QFile>
#include <QTemporaryDir>
#include <QPersistentModelIndex>
#include <QTreeView>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "editor/editor_window.h"
#include "fake_prompts.h"
#include "xmlmodel/xml_obj.h"

namespace testing_support {

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A scratch folder holding copies of fixtures from tests/data/editor.
class Scratch {
public:
  std::string Path(const std::string &name) const {
    return FDir.filePath(QString::fromStdString(name)).toStdString();
  }
  std::string Copy(const std::string &fixture) const {
    const std::string target = Path(fixture);
    WriteFile(target, ReadFile(std::string(XE_TEST_DATA) + "/editor/" + fixture));
    return target;
  }

private:
  QTemporaryDir FDir;
};

inline std::unique_ptr<editor::TfrmXMLMain> OpenWindow(const std::string &fileName) {
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->FileName = fileName;
  document->Load();
  auto window = std::make_unique<editor::TfrmXMLMain>();
  window->SetDocument(std::move(document));
  window->show();
  return window;
}

// Tree rows: held across edits as persistent indexes, which follow their rows.
using Node = QPersistentModelIndex;

inline QModelIndex Root(const editor::TfrmXMLMain &window) { return window.TreeModel()->index(0, 0); }
inline QModelIndex Child(const QModelIndex &node, int row) { return node.model()->index(row, 0, node); }
inline int ChildCount(const QModelIndex &node) { return node.model()->rowCount(node); }
inline std::string Caption(const QModelIndex &node) { return node.data().toString().toStdString(); }

inline xmlmodel::TOrbXMLItem *ItemOf(const QModelIndex &node) {
  return static_cast<xmlmodel::TOrbXMLItem *>(node.internalPointer());
}

// The row of the current item; invalid for a placeholder.
inline QModelIndex CurrentRow(const editor::TfrmXMLMain &window) {
  const auto &current = window.CurrentItem();
  return current && !current->IsNew ? window.IndexOf(current->Item) : QModelIndex();
}

// Captions of a node's child rows joined by "|".
inline std::string ChildCaptions(const QModelIndex &node) {
  std::string result;
  for (int i = 0; i < ChildCount(node); ++i)
    result += (i ? "|" : "") + Caption(Child(node, i));
  return result;
}

// Rows below the node at any depth.
inline int RowsBelow(const QModelIndex &node) {
  int count = ChildCount(node);
  for (int i = 0; i < ChildCount(node); ++i)
    count += RowsBelow(Child(node, i));
  return count;
}

inline bool HasExpandButton(const QModelIndex &node) { return node.model()->hasChildren(node); }

inline bool IsExpanded(const editor::TfrmXMLMain &window, const QModelIndex &node) {
  return window.eTree->isExpanded(node);
}

// Selects a node the way a click does: through the tree's current-index change.
inline void Select(editor::TfrmXMLMain &window, const QModelIndex &node) { window.eTree->setCurrentIndex(node); }

} // namespace testing_support
