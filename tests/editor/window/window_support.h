#pragma once

// Helpers shared by the editor window tests: fixture copies, windows on documents, tree lookups.

#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

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

inline std::string Caption(QTreeWidgetItem *node) { return node->text(0).toStdString(); }

inline xmlmodel::TOrbXMLItem *ItemOf(QTreeWidgetItem *node) {
  return editor::TfrmXMLMain::TreeItemOf(node)->Item;
}

// Captions of a node's child nodes joined by "|".
inline std::string ChildCaptions(QTreeWidgetItem *node) {
  std::string result;
  for (int i = 0; i < node->childCount(); ++i)
    result += (i ? "|" : "") + Caption(node->child(i));
  return result;
}

inline bool HasExpandButton(QTreeWidgetItem *node) {
  return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || node->childCount() > 0;
}

// Selects a node the way a click does: through the tree's current-item change.
inline void Select(editor::TfrmXMLMain &window, QTreeWidgetItem *node) { window.eTree->setCurrentItem(node); }

} // namespace testing_support
