#pragma once

namespace editor {

class TfrmXMLMain;

// Excel Import of an editor window: asks for the template and the workbook, reads the workbook
// (asking for its password when it is encrypted) and imports its first sheet under the current
// node, with a progress dialog that can cancel; then refreshes the tree.
void RunExcelImport(TfrmXMLMain &window);

} // namespace editor
