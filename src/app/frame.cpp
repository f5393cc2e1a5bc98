#include "app/frame.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProxyStyle>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QUndoGroup>
#include <QUndoStack>
#include <QUrl>

#include "app/xsl_result_window.h"
#include "editor/editor_window.h"
#include "editor/guard.h"
#include "editor/open_failure.h"
#include "editor/prompts.h"
#include "xmlmodel/xml_obj.h"
#include "xmlmodel/xsd_validate.h"
#include "xmlmodel/xsl_transform.h"

namespace app {

using editor::Guarded;
using editor::TfrmXMLMain;

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

const char kGeometryKey[] = "frame/geometry";
const char kSplittersKey[] = "editor/splitters";
const char kRecentKey[] = "recentFiles";

// The desktop theme's icon where there is one, else our own.
QIcon Icon(const char *themeName, const char *ownName) {
  return QIcon::fromTheme(QString::fromLatin1(themeName),
                          QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(ownName) + QStringLiteral(".png")));
}

// One spelling per file, so the same file reached by two paths is one document.
QString SamePath(const std::string &fileName) {
  const QFileInfo info(Q(fileName));
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// How a window is named in the frame's title and the Window menu.
QString WindowName(QMdiSubWindow *window) {
  const QString title = window->widget()->windowTitle();
  return title.isEmpty() ? QStringLiteral("New document") : title;
}

// A maximized child keeps its own title bar, so the frame's title stays the frame's to set
// instead of gaining the child's name in brackets behind our back.
class TSubWindowStyle : public QProxyStyle {
public:
  int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                QStyleHintReturn *returnData) const override {
    if (hint == SH_Workspace_FillSpaceOnMaximize)
      return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

} // namespace

std::unique_ptr<QSettings> TForm4::Settings() {
  const QString application = QCoreApplication::applicationName();
  const QString organisation = QCoreApplication::organizationName();
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     organisation.isEmpty() ? application : organisation, application);
}

TForm4::TForm4(QStringList arguments, QWidget *parent)
    : QMainWindow(parent), FArguments(std::move(arguments)) {
  setWindowTitle(QStringLiteral("XML"));
  // From the second start on the frame comes back where the user left it.
  const std::unique_ptr<QSettings> settings = Settings();
  if (!restoreGeometry(settings->value(kGeometryKey).toByteArray()))
    setGeometry(367, 292, 621, 539);
  FSplitterState = settings->value(kSplittersKey).toByteArray();
  FMdiArea = new QMdiArea(this);
  setCentralWidget(FMdiArea);
  FSubWindowStyle = new TSubWindowStyle;
  FSubWindowStyle->setParent(this);
  setAcceptDrops(true);
  CreateActions();
  CreateMenus();
  statusBar();
  connect(FMdiArea, &QMdiArea::subWindowActivated, this, [this] { ActiveWindowChanged(); });
  ActiveWindowChanged();
}

TForm4::~TForm4() {
  // Editor windows go while the frame is still whole: their menus leave its menu bar.
  disconnect(FMdiArea, nullptr, this, nullptr);
  QMdiArea *area = FMdiArea;
  FMdiArea = nullptr;
  delete area;
}

void TForm4::CreateActions() {
  auto make = [this](const char *caption, QKeySequence shortcut, void (TForm4::*handler)()) {
    auto *action = new QAction(QString::fromLatin1(caption), this);
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return action;
  };
  actOpen = make("Open", QKeySequence(Qt::CTRL | Qt::Key_O), &TForm4::actOpenExecute);
  actNew = make("New", QKeySequence(Qt::CTRL | Qt::Key_N), &TForm4::actNewExecute);
  actValidateXSD = make("Validate XSD", {}, &TForm4::actValidateXSDExecute);
  actClose = make("Exit", {}, &TForm4::actCloseExecute);
  actXSLTransform = make("XSL Transform", {}, &TForm4::actXSLTransformExecute);
  // The toolbar's Save is the active editor's; Ctrl+S stays with the editor window itself.
  actSave = make("Save", {}, &TForm4::actSaveExecute);
  actOpen->setIcon(Icon("document-open", "document-open"));
  actNew->setIcon(Icon("document-new", "document-new"));
  actSave->setIcon(Icon("document-save", "document-save"));
  // Undo and Redo of the toolbar act on the active editor's stack; the editor's own Ctrl+Z
  // and Ctrl+Y stay with its tree.
  FUndoGroup = new QUndoGroup(this);
  actUndo = FUndoGroup->createUndoAction(this, QStringLiteral("Undo"));
  actRedo = FUndoGroup->createRedoAction(this, QStringLiteral("Redo"));
  actUndo->setIcon(Icon("edit-undo", "edit-undo"));
  actRedo->setIcon(Icon("edit-redo", "edit-redo"));
  actValidateXSD->setIcon(Icon("dialog-ok-apply", "xml-validate"));
  actXSLTransform->setIcon(Icon("system-run", "xml-transform"));

  actCascade = new QAction(QStringLiteral("Cascade"), this);
  actTile = new QAction(QStringLiteral("Tile"), this);
  actNextWindow = new QAction(QStringLiteral("Next"), this);
  actNextWindow->setShortcuts(QKeySequence::NextChild);
  actPreviousWindow = new QAction(QStringLiteral("Previous"), this);
  actPreviousWindow->setShortcuts(QKeySequence::PreviousChild);
  connect(actCascade, &QAction::triggered, FMdiArea, &QMdiArea::cascadeSubWindows);
  connect(actTile, &QAction::triggered, FMdiArea, &QMdiArea::tileSubWindows);
  connect(actNextWindow, &QAction::triggered, FMdiArea, &QMdiArea::activateNextSubWindow);
  connect(actPreviousWindow, &QAction::triggered, FMdiArea, &QMdiArea::activatePreviousSubWindow);
}

void TForm4::CreateMenus() {
  SystemMenu = menuBar()->addMenu(QStringLiteral("System"));
  SystemMenu->addAction(actOpen);
  RecentMenu = SystemMenu->addMenu(QStringLiteral("Open Recent"));
  SystemMenu->addAction(actNew);
  SystemMenu->addAction(actValidateXSD);
  SystemMenu->addSeparator();
  SystemMenu->addAction(actClose);
  XslMenu = menuBar()->addMenu(QStringLiteral("XSL"));
  XslMenu->addAction(actXSLTransform);
  WindowMenu = menuBar()->addMenu(QStringLiteral("Window"));
  connect(WindowMenu, &QMenu::aboutToShow, this, [this] { FillWindowMenu(); });
  FillRecentMenu();
  FillWindowMenu();

  MainToolBar = addToolBar(QStringLiteral("Main"));
  MainToolBar->setObjectName(QStringLiteral("MainToolBar"));
  MainToolBar->setMovable(false);
  MainToolBar->addAction(actOpen);
  MainToolBar->addAction(actNew);
  MainToolBar->addAction(actSave);
  MainToolBar->addSeparator();
  MainToolBar->addAction(actUndo);
  MainToolBar->addAction(actRedo);
  MainToolBar->addSeparator();
  MainToolBar->addAction(actValidateXSD);
  MainToolBar->addAction(actXSLTransform);
}

QList<TfrmXMLMain *> TForm4::EditorWindows() const {
  QList<TfrmXMLMain *> result;
  if (!FMdiArea)
    return result;
  for (QMdiSubWindow *window : FMdiArea->subWindowList())
    if (auto *editor = qobject_cast<TfrmXMLMain *>(window->widget()); editor && window->isVisible())
      result.append(editor);
  return result;
}

TfrmXMLMain *TForm4::ActiveEditor() const {
  if (!FMdiArea)
    return nullptr;
  QMdiSubWindow *window = FMdiArea->activeSubWindow();
  if (!window)
    window = FMdiArea->currentSubWindow();
  return window && window->isVisible() ? qobject_cast<TfrmXMLMain *>(window->widget()) : nullptr;
}

void TForm4::ActiveWindowChanged() {
  MergeChildMenu();
  TfrmXMLMain *editor = ActiveEditor();
  actSave->setEnabled(editor != nullptr);
  FUndoGroup->setActiveStack(editor ? editor->UndoStack() : nullptr);
  UpdateTitle();
}

// The active editor's "XML" and "Edit" menus sit after the frame's own menus while it is active.
void TForm4::MergeChildMenu() {
  TfrmXMLMain *editor = ActiveEditor();
  QAction *wanted = editor ? editor->MainMenu1->menuAction() : nullptr;
  if (wanted == FMergedMenu)
    return;
  for (QAction *merged : {FMergedMenu.data(), FMergedEditMenu.data()})
    if (merged)
      menuBar()->removeAction(merged);
  FMergedMenu = wanted;
  FMergedEditMenu = editor ? editor->MainMenu2->menuAction() : nullptr;
  if (wanted)
    menuBar()->addActions({FMergedMenu, FMergedEditMenu});
}

void TForm4::UpdateTitle() {
  QMdiSubWindow *window = FMdiArea ? FMdiArea->activeSubWindow() : nullptr;
  setWindowTitle(window && window->isVisible() ? QStringLiteral("XML - ") + WindowName(window)
                                               : QStringLiteral("XML"));
}

void TForm4::FillWindowMenu() {
  WindowMenu->clear();
  WindowMenu->addAction(actCascade);
  WindowMenu->addAction(actTile);
  WindowMenu->addAction(actNextWindow);
  WindowMenu->addAction(actPreviousWindow);
  const QList<QMdiSubWindow *> windows = FMdiArea->subWindowList();
  const bool any = !windows.isEmpty();
  for (QAction *action : {actCascade, actTile, actNextWindow, actPreviousWindow})
    action->setEnabled(any);
  if (any)
    WindowMenu->addSeparator();
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow *window = windows[i];
    QAction *action = WindowMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(WindowName(window)));
    action->setCheckable(true);
    action->setChecked(window == FMdiArea->activeSubWindow());
    connect(action, &QAction::triggered, this, [this, window = QPointer<QMdiSubWindow>(window)] {
      if (window)
        FMdiArea->setActiveSubWindow(window);
    });
  }
}

TfrmXMLMain *TForm4::OpenEditor(std::unique_ptr<xmlmodel::TOrbMainXML> document) {
  auto *editor = new TfrmXMLMain;
  // The merged menu must leave the menu bar with its window.
  connect(editor, &QObject::destroyed, this, [this] {
    FMergedMenu = nullptr;
    FMergedEditMenu = nullptr;
    ActiveWindowChanged();
  });
  connect(editor, &QWidget::windowTitleChanged, this, [this] { UpdateTitle(); });
  connect(editor, &TfrmXMLMain::StatusMessage, this, [this](const QString &text) { statusBar()->showMessage(text); });
  // The splitters the user set last go to every window opened after, and to the next run.
  editor->SetSplitterState(FSplitterState);
  connect(editor, &TfrmXMLMain::SplitterMoved, this, [this, editor] { FSplitterState = editor->SplitterState(); });
  editor->SetDocument(std::move(document));
  FUndoGroup->addStack(editor->UndoStack());
  AddWindow(editor);
  return editor;
}

void TForm4::AddWindow(QWidget *widget) {
  QMdiSubWindow *window = FMdiArea->addSubWindow(widget);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setStyle(FSubWindowStyle);
  window->showMaximized();
  FMdiArea->setActiveSubWindow(window);
  ActiveWindowChanged();
}

QMdiSubWindow *TForm4::FindOpenFile(const std::string &fileName) const {
  const QString wanted = SamePath(fileName);
  for (QMdiSubWindow *window : FMdiArea->subWindowList()) {
    auto *editor = qobject_cast<TfrmXMLMain *>(window->widget());
    // A window whose file did not load holds nothing to come back to.
    if (editor && window->isVisible() && editor->Document() && editor->Document()->RootItem()->HasNode() &&
        !editor->Document()->FileName.empty() && SamePath(editor->Document()->FileName) == wanted)
      return window;
  }
  return nullptr;
}

void TForm4::OpenFile(const std::string &fileName) {
  if (QMdiSubWindow *open = FindOpenFile(fileName)) {
    FMdiArea->setActiveSubWindow(open);
    AddRecentFile(fileName);
    return;
  }
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->FileName = fileName;
  document->Load();
  if (document->RootItem()->HasNode()) {
    AddRecentFile(fileName);
    OpenEditor(std::move(document));
    statusBar()->showMessage(QStringLiteral("Opened ") + Q(fileName));
    return;
  }
  // The user learns why before the empty window appears, and the window says so too.
  const std::string reason = editor::CannotOpenText(*document);
  RemoveRecentFile(fileName);
  editor::CurrentPrompts().ShowError(editor::ErrorDisplayText(reason));
  OpenEditor(std::move(document))->ShowNotLoaded(reason);
}

QStringList TForm4::RecentFiles() const { return Settings()->value(kRecentKey).toStringList(); }

void TForm4::AddRecentFile(const std::string &fileName) {
  const QString path = SamePath(fileName);
  QStringList files = RecentFiles();
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > kRecentFileCount)
    files.removeLast();
  Settings()->setValue(kRecentKey, files);
  FillRecentMenu();
}

void TForm4::RemoveRecentFile(const std::string &fileName) {
  QStringList files = RecentFiles();
  if (files.removeAll(SamePath(fileName)) == 0)
    return;
  Settings()->setValue(kRecentKey, files);
  FillRecentMenu();
}

void TForm4::FillRecentMenu() {
  RecentMenu->clear();
  const QStringList files = RecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    QAction *action = RecentMenu->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(files[i]));
    action->setData(files[i]);
    connect(action, &QAction::triggered, this, [this, path = files[i]] {
      Guarded([&] { OpenFile(path.toStdString()); });
    });
  }
  RecentMenu->setEnabled(!files.isEmpty());
}

void TForm4::actOpenExecute() {
  const std::string fileName = editor::PromptFileName("*.xml", "Open an XML file");
  if (fileName.empty())
    return;
  OpenFile(fileName);
}

void TForm4::actNewExecute() {
  std::string name = "root";
  if (!editor::CurrentPrompts().InputQuery("Enter Root Element Name", "Name", name))
    return;
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->NewDocument(name);
  OpenEditor(std::move(document));
}

void TForm4::actSaveExecute() {
  if (TfrmXMLMain *editor = ActiveEditor())
    editor->actSave->trigger();
}

void TForm4::actValidateXSDExecute() {
  const std::string fileName = editor::PromptFileName("*.xml", "Choose the XML file to validate");
  if (fileName.empty())
    return;
  auto document = std::make_unique<xmlmodel::TOrbMainXSDValidate>();
  document->FileName = fileName;
  document->Load();
  const std::string report = document->ValidationReport;
  // A file open already keeps its one window; the report is about the file as saved.
  if (QMdiSubWindow *open = FindOpenFile(fileName))
    FMdiArea->setActiveSubWindow(open);
  else
    OpenEditor(std::move(document));
  const std::string text = report.empty() ? fileName + " is valid." : report;
  statusBar()->showMessage(report.empty() ? Q(text) : QString());
  editor::CurrentPrompts().ShowMessage(text);
}

void TForm4::actXSLTransformExecute() {
  const std::string xmlFile = editor::PromptFileName("*.xml", "Choose the XML file to transform");
  const std::string xslFile = editor::PromptFileName("*.xsl", "Choose the stylesheet");
  xmlmodel::TOrbXSLTransform transform;
  transform.Transform(xmlFile, xslFile);
  const QString title = QStringLiteral("%1 with %2").arg(QFileInfo(Q(xmlFile)).fileName(), QFileInfo(Q(xslFile)).fileName());
  AddWindow(new TXslResultWindow(std::move(transform.Output), title));
}

void TForm4::actCloseExecute() { close(); }

void TForm4::FormShow() {
  if (FArguments.size() < 2)
    return;
  const QString fileName = FArguments.at(1);
  if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
    return;
  Guarded([&] { OpenFile(fileName.toStdString()); });
}

void TForm4::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!FShown) {
    FShown = true;
    FormShow();
  }
}

void TForm4::closeEvent(QCloseEvent *event) {
  // Each editor window asks about its own changes; one that refuses keeps the frame open.
  for (QMdiSubWindow *window : FMdiArea->subWindowList()) {
    if (!window->isVisible())
      continue; // closed already, waiting to be deleted
    if (!window->close()) {
      event->ignore();
      return;
    }
  }
  const std::unique_ptr<QSettings> settings = Settings();
  settings->setValue(kGeometryKey, saveGeometry());
  settings->setValue(kSplittersKey, FSplitterState);
  event->accept();
}

void TForm4::dragEnterEvent(QDragEnterEvent *event) {
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
}

void TForm4::dropEvent(QDropEvent *event) {
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile())
      Guarded([&] { OpenFile(url.toLocalFile().toStdString()); });
  event->acceptProposedAction();
}

} // namespace app
