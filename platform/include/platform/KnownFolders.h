#pragma once

// The user's known folders (SHGetFolderPath) and the machine's system folder (GetSystemDirectory). Every
// Windows user has a documents folder; here it is $XDG_DOCUMENTS_DIR when set, else $HOME/Documents, and
// it is created when missing. The system folder is a setting of the simulated machine (devsim os
// system-dir): where the ASIO driver is installed.

#include <cstdint>
#include <string>

namespace platform
{

// The documents folder without a trailing separator; false when there is none and it cannot be made.
bool getDocumentsFolder(std::string& path);

// The system folder without a trailing separator, as GetSystemDirectoryA answers: its length when it fits
// into size bytes with its terminator (copied into buffer); the size it needs, terminator included, when
// it does not (buffer unchanged); 0 when the query fails.
uint32_t getSystemDirectory(char* buffer, uint32_t size);

} // namespace platform
