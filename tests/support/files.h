// Files the tests hand to the programs: scripts for the simulator, configuration files.
#pragma once

#include <windows.h>

#include <string>

namespace test {

// Writes exactly bytes bytes to path, replacing what was there; whether all of it was written.
bool WriteBytes(const std::wstring &path, const void *data, DWORD bytes);
// A new file in dir holding text, named after a count of this process's scripts; its path.
std::wstring WriteScript(const std::wstring &dir, const std::string &text);
// text in UTF-8, for messages and for the simulator's scripts.
std::string Narrow(const std::wstring &text);

}  // namespace test
