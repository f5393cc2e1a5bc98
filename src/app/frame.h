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
class QSettings;
class QStyle;
class QToolBar;
class QUndoGroup;

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
  void actSaveExecute();
  // Opens the first command-line argument when it names an existing file.
  void FormShow();
  // Opens a file as Open does; a file that is open already only has its window activated.
  void OpenFile(const std::string &fileName);

  // The last files opened, newest first, as kept between runs.
  QStringList RecentFiles() const;
  static constexpr int kRecentFileCount = 10;
  // Settings of the program (recent files, window layout), kept per user.
  static std::unique_ptr<QSettings> Settings();

  QAction *actOpen = nullptr;
  QAction *actNew = nullptr;
  QAction *actSave = nullptr;
  QAction *actUndo = nullptr;
  QAction *actRedo = nullptr;
  QAction *actValidateXSD = nullptr;
  QAction *actClose = nullptr;
  QAction *actXSLTransform = nullptr;
  QAction *actCascade = nullptr;
  QAction *actTile = nullptr;
  QAction *actNextWindow = nullptr;
  QAction *actPreviousWindow = nullptr;
  QMenu *SystemMenu = nullptr;
  QMenu *RecentMenu = nullptr;
  QMenu *XslMenu = nullptr;
  QMenu *WindowMenu = nullptr;
  QToolBar *MainToolBar = nullptr;

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  void CreateActions();
  void CreateMenus();
  editor::TfrmXMLMain *OpenEditor(std::unique_ptr<xmlmodel::TOrbMainXML> document);
  // Shows a child window maximized and active.
  void AddWindow(QWidget *widget);
  // The editor window whose loaded document was read from the file, if any.
  QMdiSubWindow *FindOpenFile(const std::string &fileName) const;
  void AddRecentFile(const std::string &fileName);
  void RemoveRecentFile(const std::string &fileName);
  void FillRecentMenu();
  void FillWindowMenu();
  void ActiveWindowChanged();
  void MergeChildMenu();
  void UpdateTitle();

  QStringList FArguments;
  QMdiArea *FMdiArea = nullptr;
  QStyle *FSubWindowStyle = nullptr; // child windows' style, keeping their title bars
  QPointer<QAction> FMergedMenu; // the active editor's "XML" menu while it sits in the menu bar
  QPointer<QAction> FMergedEditMenu; // and its "Edit" menu
  QUndoGroup *FUndoGroup = nullptr;  // the editors' undo stacks, the active one current
  QByteArray FSplitterState; // as the user last set the splitters of an editor window
  bool FShown = false;
};

} // namespace app
