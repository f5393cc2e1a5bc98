#include "editor/excel_import.h"

#include "cells/sheets.h"
#include "common/text.h"
#include "common/variant.h"
#include "xmlmodel/edits.h"
#include "xmlmodel/xml_obj.h"

#include <algorithm>

namespace editor {

namespace {
constexpr int kLastHeaderPosition = 300;
} // namespace

int LastDataRow(xls::TSheet &Sheet) {
  int last = -1;
  for (int i = 0; i < Sheet.Rows.Count(); ++i)
    last = std::max<int>(last, Sheet.Rows.Items(i).Row);
  xls::TCellStorage &cells = Sheet.Cells();
  cells.ResetIteration();
  // Cells come in key order, so the last one holds the highest row.
  const xls::TCell *lastCell = nullptr;
  while (const xls::TCell *cell = cells.NextCell())
    lastCell = cell;
  if (lastCell)
    last = std::max<int>(last, static_cast<int>(lastCell->Key() >> 8));
  return last;
}

TExcelImport::TExcelImport(xls::TSheet &Sheet) : FSheet(Sheet) {
  for (int c = 0; c <= kLastHeaderPosition; ++c) {
    std::string header = common::Utf16ToUtf8(common::TrimControl(FSheet.AsString(c, 0)));
    if (header.empty())
      break; // the first empty header ends the header row
    FHeaders.insert_or_assign(std::move(header), c);
  }
}

void TExcelImport::FillFromRow(xmlmodel::TOrbXMLItem &Item, int Row) {
  if (!FHeaders.empty()) {
    Item.GetNodeName(FName);
    const auto match = FHeaders.find(std::string_view(FName));
    if (match != FHeaders.end()) {
      const std::string value = FSheet.AsVariant(match->second, Row).ToText();
      Item.SetText(common::TrimControlView(value));
    }
  }
  // A leaf's child list is not built just to find it empty.
  if (!Item.HasChildItems())
    return;
  xmlmodel::TOrbXMLList *children = Item.Children();
  for (int i = 0; i < children->Count(); ++i)
    FillFromRow(*children->Items(i), Row);
}

int TExcelImport::ImportRows(xmlmodel::TOrbXMLItem &Target, xmlmodel::TOrbXMLItem &TemplateRoot,
                             const TImportProgress &Progress, xmlmodel::TEdit *Edit) {
  const int lastRow = LastDataRow(FSheet);
  if (lastRow < 1)
    return 0;
  xmlmodel::TOrbXMLList *list = Target.Children();
  xmlmodel::TOrbMainXML *document = list->Document();
  const bool wasModified = document && document->Modified;
  const int firstNew = list->Count();
  const std::string name = TemplateRoot.NodeName();
  for (int row = 1; row <= lastRow; ++row) {
    if (Progress && !Progress(row, lastRow)) {
      if (Edit)
        return -1; // its owner takes the copies back
      while (list->Count() > firstNew)
        list->DeleteItem(list->Items(list->Count() - 1));
      if (document)
        document->Modified = wasModified;
      return -1;
    }
    // Each copy is laid out at the depth where it lands.
    xmlmodel::TOrbXMLItem *copy = Edit ? Edit->Create(*list, name, 1, &TemplateRoot, nullptr, true)
                                       : list->CreateNodeBefore(name, 1, &TemplateRoot, nullptr, true);
    FillFromRow(*copy, row);
  }
  return lastRow;
}

} // namespace editor
