#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <string>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace xmlmodel {
class TOrbMainXML;
}

namespace editor {
class TfrmXMLMain;
}

namespace app {

// The frame: a multiple-document main window whose child windows are the editor windows.
class TForm4 : public QMainWindow {
  Q_OBJECT
public:
  // arguments as QCoreApplication::arguments() gives them (program first).
  explicit TForm4(QStringList arguments, QWidget *parent = nullptr);
  ~TForm4() override;

  QMdiArea *MdiArea() const { return FMdiArea; }
  QList<editor::TfrmXMLMain *> EditorWindows() const;
  editor::TfrmXMLMain *ActiveEditor() const;

  void actOpenExecute();
  void actNewExecute();
  void actValidateXSDExecute();
  void actXSLTransformExecute();
  void actCloseExecute();
  // Opens the first command-line argument when it names an existing file.
  void FormShow();

  QAction *actOpen = nullptr;
  QAction *actNew = nullptr;
  QAction *actValidateXSD = nullptr;
  QAction *actClose = nullptr;
  QAction *actXSLTransform = nullptr;
  QMenu *SystemMenu = nullptr;
  QMenu *XslMenu = nullptr;

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  editor::TfrmXMLMain *OpenEditor(std::unique_ptr<xmlmodel::TOrbMainXML> document);
  void OpenFile(const std::string &fileName);
  void MergeChildMenu();

  QStringList FArguments;
  QMdiArea *FMdiArea = nullptr;
  QPointer<QAction> FMergedMenu; // the active editor's "XML" menu while it sits in the menu bar
  QPointer<QAction> FMergedEditMenu; // and its "Edit" menu
  bool FShown = false;
};

} // namespace app
