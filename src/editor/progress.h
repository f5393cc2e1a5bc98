#pragma once

#include <QCoreApplication>
#include <QProgressDialog>
#include <QString>
#include <QWidget>

#include <utility>

#include "xmlmodel/progress.h"

namespace editor {

// Runs long work with a progress dialog that shows after half a second and can cancel it; the
// window keeps painting meanwhile. work takes a xmlmodel::ProgressFn and returns its result.
template <class Work> auto RunWithProgress(QWidget *parent, const QString &label, Work &&work) {
  QProgressDialog dialog(label, "Cancel", 0, 1000, parent);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(500);
  dialog.setValue(0);
  const xmlmodel::ProgressFn progress = [&dialog](double done) {
    dialog.setValue(static_cast<int>(done * 1000));
    QCoreApplication::processEvents();
    return !dialog.wasCanceled();
  };
  auto result = std::forward<Work>(work)(progress);
  dialog.reset();
  return result;
}

} // namespace editor
