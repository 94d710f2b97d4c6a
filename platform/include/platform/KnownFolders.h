#pragma once

// The user's known folders (SHGetFolderPath). Every Windows user has a documents folder; here it is
// $XDG_DOCUMENTS_DIR when set, else $HOME/Documents, and it is created when missing.

#include <string>

namespace platform
{

// The documents folder without a trailing separator; false when there is none and it cannot be made.
bool getDocumentsFolder(std::string& path);

} // namespace platform
