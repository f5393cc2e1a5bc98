#pragma once

#include <string>
#include <string_view>

namespace xmlmodel {

// Writes data to fileName through a temporary file in the same folder that replaces the target
// only when it is complete and synced, so a failed write leaves the old file as it was. The old
// file's permissions are kept; a new file gets the usual ones (0666 less the umask). A symbolic
// link is followed and its target replaced. Throws common::Exception naming the file.
void WriteFileAtomically(const std::string &fileName, std::string_view data);

} // namespace xmlmodel
