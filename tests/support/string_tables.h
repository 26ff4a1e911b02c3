// A program's resources by language, read from the resources themselves rather than in the
// language Windows picks: for checks that the English and Japanese sets match, and for the
// texts a window under a given user interface language must show.
#pragma once

#include <windows.h>

#include <set>
#include <string>

namespace test {

const LANGID ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// String id of module's table in language; empty when that language has none.
std::wstring StringOfLanguage(HMODULE module, UINT id, LANGID language);
// The ids of every non-empty string of module's table in language.
std::set<UINT> StringIdsOfLanguage(HMODULE module, LANGID language);
// The ids (or names, as their pointers) of module's resources of type in language.
std::set<UINT_PTR> ResourceIdsOfLanguage(HMODULE module, LPCWSTR type, LANGID language);

}  // namespace test
