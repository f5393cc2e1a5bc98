#include "editor/find_bar.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

#include "common/exception.h"
#include "editor/progress.h"
#include "xmlmodel/node_path.h"

namespace editor {

TFindBar::TFindBar(QWidget *parent) : QWidget(parent) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  auto *line = new QHBoxLayout;
  eFindText = new QLineEdit(this);
  eFindText->setPlaceholderText("Find");
  btnNext = new QPushButton("Find Next", this);
  btnPrevious = new QPushButton("Find Previous", this);
  btnAll = new QPushButton("Find All", this);
  line->addWidget(eFindText, 1);
  line->addWidget(btnNext);
  line->addWidget(btnPrevious);
  line->addWidget(btnAll);
  layout->addLayout(line);

  auto *boxes = new QHBoxLayout;
  const auto box = [&](const char *caption, bool on) {
    auto *check = new QCheckBox(caption, this);
    check->setChecked(on);
    boxes->addWidget(check);
    return check;
  };
  chkMatchCase = box("Match case", false);
  chkWholeWord = box("Whole word", false);
  chkRegex = box("Regular expression", false);
  chkXPath = box("XPath", false);
  chkNames = box("Names", true);
  chkAttrNames = box("Attribute names", true);
  chkAttrValues = box("Attribute values", true);
  chkText = box("Text", true);
  chkComments = box("Comments", true);
  boxes->addStretch(1);
  layout->addLayout(boxes);

  lStatus = new QLabel(this);
  layout->addWidget(lStatus);
  eResults = new QTreeWidget(this);
  eResults->setColumnCount(1);
  eResults->setHeaderLabels({"Path"});
  eResults->setRootIsDecorated(false);
  eResults->setUniformRowHeights(true);
  eResults->hide(); // until Find All has something to list
  layout->addWidget(eResults, 1);

  // The XPath mode takes none of the text options.
  connect(chkXPath, &QCheckBox::toggled, this, [this](bool xpath) {
    for (QCheckBox *check : {chkMatchCase, chkWholeWord, chkRegex, chkNames, chkAttrNames, chkAttrValues, chkText,
                             chkComments})
      check->setEnabled(!xpath);
  });
  connect(eFindText, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
  connect(btnNext, &QPushButton::clicked, this, [this] { FindNext(true); });
  connect(btnPrevious, &QPushButton::clicked, this, [this] { FindNext(false); });
  connect(btnAll, &QPushButton::clicked, this, [this] { FindAll(); });
  connect(eResults, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item, int) {
    const int index = eResults->indexOfTopLevelItem(item);
    if (index < 0 || index >= static_cast<int>(FResults.size()))
      return;
    FLast = FResults[static_cast<std::size_t>(index)];
    FCurrent = FLast.Shown;
    emit GoToNode(FLast.Shown);
  });
  const auto action = [this](const char *caption, QKeySequence key, bool forward) {
    auto *a = new QAction(caption, this);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(a, &QAction::triggered, this, [this, forward] { FindNext(forward); });
    addAction(a);
    return a;
  };
  actFindNext = action("Find Next", Qt::Key_F3, true);
  actFindPrevious = action("Find Previous", Qt::SHIFT | Qt::Key_F3, false);
}

void TFindBar::SetDocument(const xmlmodel::DomDocument *doc) {
  FDoc = doc;
  FCurrent = nullptr;
  FLast = {};
  FResults.clear();
  eResults->clear();
  eResults->hide();
  lStatus->clear();
}

void TFindBar::SetCurrentNode(xmlNode *node) { FCurrent = node; }

void TFindBar::Activate() {
  show();
  eFindText->setFocus();
  eFindText->selectAll();
}

xmlmodel::FindOptions TFindBar::Options() const {
  xmlmodel::FindOptions o;
  o.Text = eFindText->text().toStdString();
  o.XPath = chkXPath->isChecked();
  o.MatchCase = chkMatchCase->isChecked();
  o.WholeWord = chkWholeWord->isChecked();
  o.Regex = chkRegex->isChecked();
  o.InNames = chkNames->isChecked();
  o.InAttributeNames = chkAttrNames->isChecked();
  o.InAttributeValues = chkAttrValues->isChecked();
  o.InText = chkText->isChecked();
  o.InComments = chkComments->isChecked();
  return o;
}

void TFindBar::FindNext(bool forward) {
  if (FDoc == nullptr)
    return;
  try {
    xmlmodel::TFinder finder(*FDoc, Options());
    // Go on from the last match while the window still shows it, else from where the window is.
    const xmlmodel::FindHit from = FLast && FLast.Shown == FCurrent ? FLast : xmlmodel::FindHit::At(FCurrent);
    const xmlmodel::FindHit hit = finder.Next(from, forward, true);
    if (!hit) {
      lStatus->setText("Not found");
      return;
    }
    lStatus->setText(hit.Wrapped ? (forward ? "Search went on from the start" : "Search went on from the end")
                                 : QString());
    FLast = hit;
    FCurrent = hit.Shown;
    emit GoToNode(hit.Shown);
  } catch (const common::Exception &e) {
    lStatus->setText(QString::fromStdString(e.what()));
  }
}

void TFindBar::FindAll() {
  if (FDoc == nullptr)
    return;
  try {
    xmlmodel::TFinder finder(*FDoc, Options());
    bool cancelled = false;
    FResults = RunWithProgress(this, "Finding...", [&](const xmlmodel::ProgressFn &progress) {
      return finder.All([&](double done) {
        cancelled = !progress(done);
        return !cancelled;
      });
    });
    eResults->clear();
    xmlmodel::NodePathBuilder paths;
    QList<QTreeWidgetItem *> rows;
    rows.reserve(static_cast<int>(FResults.size()));
    for (const xmlmodel::FindHit &hit : FResults)
      rows.append(new QTreeWidgetItem(QStringList{QString::fromStdString(paths.Path(hit.Node))}));
    eResults->addTopLevelItems(rows);
    eResults->show();
    lStatus->setText(QString(cancelled ? "Cancelled: %1 found so far" : "%1 found").arg(FResults.size()));
  } catch (const common::Exception &e) {
    lStatus->setText(QString::fromStdString(e.what()));
  }
}

} // namespace editor
