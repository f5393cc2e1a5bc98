#pragma once

// The spreadsheet import without any window: each data row of a worksheet becomes a copy of a
// template element, and every element of the copy named like a column header takes that
// column's value. The editor window and the xlsimport tool both call it.

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace xmlmodel {
class TEdit;
class TOrbXMLItem;
} // namespace xmlmodel
namespace xls {
class TSheet;
}

namespace editor {

// The last row that holds a cell or a ROW record, or -1 for an empty sheet. Rows up to it are
// imported, so a row is never skipped because the file has no ROW record for it.
int LastDataRow(xls::TSheet &Sheet);

// Called before each row with the row number and the last row; returning false cancels.
using TImportProgress = std::function<bool(int Row, int LastRow)>;

class TExcelImport {
public:
  explicit TExcelImport(xls::TSheet &Sheet);

  // Fills one copied subtree from row Row, depth first, parent before children: an element whose
  // name equals a header (trimmed, exact case) takes the trimmed text of that column's cell; the
  // rightmost such column wins.
  void FillFromRow(xmlmodel::TOrbXMLItem &Item, int Row);

  // Adds under Target one copy of TemplateRoot per data row (rows 1 to LastDataRow) and fills
  // it. Returns the number of copies added. A cancel through Progress removes the copies this
  // call added and restores the document's modified flag, so the document is as it was; it then
  // returns -1. An error ends the import where it happened and propagates; copies made before it
  // stay, as every edit before a failed command does. With Edit, the copies are recorded there
  // (one undo step for the whole import), and a cancel leaves taking them back to its owner.
  int ImportRows(xmlmodel::TOrbXMLItem &Target, xmlmodel::TOrbXMLItem &TemplateRoot,
                 const TImportProgress &Progress = {}, xmlmodel::TEdit *Edit = nullptr);

private:
  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view Name) const { return std::hash<std::string_view>()(Name); }
  };

  xls::TSheet &FSheet;
  // The header row is read once: the sheet does not change while it is imported. Each header
  // text (trimmed, UTF-8) maps to the rightmost position before the first empty header that
  // holds it; positions from 256 on address columns 0 to 44 again.
  std::unordered_map<std::string, int, TNameHash, std::equal_to<>> FHeaders;
  std::string FName; // scratch for element names
};

} // namespace editor
