// Validate and find in a real editor window on the 100 MB record document with its schema, after
// an unsaved edit broke one record near the end. Each run opens a fresh window (not timed), then
// times, until the window shows the result:
//   validate     F7 until the errors panel lists the errors
//   first error  Enter on the first error until its node is current and selected, in a tree never
//                expanded below the root
//   find all     Find All of the name "record" until the result list is shown
//   find next    Find Next, from the root, of a text only the last record holds, until it is current
// Prints wall and user CPU time of each (median of the runs) and the peak resident memory.
// The document and schema are the ones xml_search_bench writes.
#include "editor/editor_search.h"
#include "editor/editor_window.h"
#include "editor/errors_panel.h"
#include "editor/find_bar.h"
#include "records_file.h"
#include "xmlmodel/dom.h"
#include "xmlmodel/edits.h"
#include "xmlmodel/node_path.h"
#include "xmlmodel/xml_obj.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Times {
  double Wall = 0, User = 0; // seconds
};

double UserSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

template <typename Body> Times Time(Body body) {
  const auto wall = std::chrono::steady_clock::now();
  const double user = UserSeconds();
  body();
  QApplication::processEvents(); // what the step changed is drawn
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
          UserSeconds() - user};
}

[[noreturn]] void Fail(const std::string &what) {
  std::fprintf(stderr, "editor_validate_bench: %s\n", what.c_str());
  std::exit(1);
}

xmlNode *CurrentNode(const editor::TfrmXMLMain &window) {
  return window.CurrentItem() ? window.CurrentItem()->Item->Node() : nullptr;
}

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

std::vector<Times> OneRun() {
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->FileName = xebench::kRecordsWithSchemaFile;
  document->Load();
  auto window = std::make_unique<editor::TfrmXMLMain>();
  window->SetDocument(std::move(document));
  window->resize(1200, 760);
  window->show();
  window->activateWindow();
  if (!QTest::qWaitForWindowExposed(window.get()))
    Fail("the window was not shown");
  auto *search = window->findChild<editor::TEditorSearch *>();

  // The edit: the amount of the last record but one (near the end, not the last record, whose
  // email the find looks for) becomes a word, as one undo step of the window.
  xmlmodel::TOrbXMLList *records = window->Document()->RootItem()->Children();
  xmlmodel::TOrbXMLItem *amount = records->Items(records->Count() - 2)->Children()->Items(3);
  window->RunEdit("Edit amount", [&](xmlmodel::TEdit &edit) { edit.SetText(amount, "twelve"); });
  if (!window->Document()->Modified)
    Fail("the edit did not change the document");
  // (Asking every record's node would cost a linear search each.)
  const QModelIndex root = window->TreeModel()->index(0, 0);
  if (window->TreeModel()->rowCount(root) != records->Count() ||
      window->eTree->isExpanded(window->TreeModel()->index(records->Count() - 2, 0, root)))
    Fail("the tree was expanded below the root before going to the error");

  std::vector<Times> times;
  times.push_back(Time([&] { QTest::keyClick(window.get(), Qt::Key_F7); }));
  if (search->pErrors->ErrorCount() != 1 || !search->pErrors->eErrors->isVisible())
    Fail("validate listed " + std::to_string(search->pErrors->ErrorCount()) + " errors, not 1");

  QTreeWidget *errors = search->pErrors->eErrors;
  errors->setCurrentItem(errors->topLevelItem(0));
  errors->setFocus();
  times.push_back(Time([&] { QTest::keyClick(errors, Qt::Key_Return); }));
  if (CurrentNode(*window) != amount->Node() ||
      window->eTree->currentIndex() != window->IndexOf(window->CurrentItem()->Item) ||
      !window->eTree->selectionModel()->isSelected(window->eTree->currentIndex()))
    Fail("the first error's node is not current and selected");

  search->actFind->trigger();
  editor::TFindBar *find = search->pFind;
  find->eFindText->setText("record");
  find->chkMatchCase->setChecked(true);
  find->chkWholeWord->setChecked(true);
  for (QCheckBox *box : {find->chkAttrNames, find->chkAttrValues, find->chkText, find->chkComments})
    box->setChecked(false);
  times.push_back(Time([&] { find->btnAll->click(); }));
  if (!find->isVisible() || !find->eResults->isVisible() ||
      find->eResults->topLevelItemCount() != records->Count())
    Fail("find all listed " + std::to_string(find->eResults->topLevelItemCount()) + " of " +
         std::to_string(records->Count()) + " records");

  // Only the last record's email holds its number followed by "@".
  xmlNode *last = records->Items(records->Count() - 1)->Node();
  xmlChar *id = xmlGetProp(last, BAD_CAST "id");
  find->eFindText->setText(QString("customer%1@").arg(reinterpret_cast<const char *>(id)));
  xmlFree(id);
  find->chkMatchCase->setChecked(false);
  find->chkWholeWord->setChecked(false);
  for (QCheckBox *box : {find->chkAttrNames, find->chkAttrValues, find->chkText, find->chkComments})
    box->setChecked(true);
  window->ShowNode(window->Document()->XMLDoc().DocumentElement());
  find->eFindText->setFocus();
  times.push_back(Time([&] { QTest::keyClick(find->eFindText, Qt::Key_Return); }));
  if (CurrentNode(*window) == nullptr ||
      xmlmodel::NodePath(CurrentNode(*window)).find("/email") == std::string::npos ||
      CurrentNode(*window)->parent != last)
    Fail("find next did not go to the last record's email");

  return times;
}

} // namespace

int main(int argc, char **argv) {
  xmlmodel::InitXmlLibrary();
  QApplication application(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  xebench::MakeRecordsFileWithSchema();

  const char *const steps[] = {"validate", "first error", "find all", "find next"};
  std::vector<std::vector<Times>> all(std::size(steps));
  for (int run = 0; run < runs; ++run) {
    const std::vector<Times> times = OneRun();
    for (std::size_t i = 0; i < times.size(); ++i) {
      all[i].push_back(times[i]);
      std::printf("run %d %-12s wall %7.3f s  user %7.3f s\n", run + 1, steps[i], times[i].Wall,
                  times[i].User);
    }
  }
  const auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf("\nmedian of %d      wall (s)  user (s)\n", runs);
  for (std::size_t i = 0; i < all.size(); ++i) {
    std::vector<double> wall, user;
    for (const Times &t : all[i]) {
      wall.push_back(t.Wall);
      user.push_back(t.User);
    }
    std::printf("%-16s %8.3f  %8.3f\n", steps[i], median(wall), median(user));
  }
  std::printf("peak resident (VmHWM) %ld MiB\n", PeakKiB() / 1024);
  return 0;
}
