// A program's resources by language, read from the resources themselves rather than in the
// language Windows picks: for checks that the English and Japanese sets match, and for the
// texts a window under a given user interface language must show.
#pragma once

#include <windows.h>

#include <stdarg.h>

#include <set>
#include <string>

namespace test {

const LANGID ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// A program's resources, loaded as data (nothing of it runs) for as long as this lives.
struct ResourceImage {
    explicit ResourceImage(const std::wstring &path);
    ~ResourceImage();
    ResourceImage(const ResourceImage &) = delete;
    ResourceImage &operator=(const ResourceImage &) = delete;
    HMODULE module;
};

// The language a run is meant to test (its PORTGATE_EXPECT_LANGUAGE), English when unset.
LANGID ExpectedLanguage();

// String id of module's table (NULL: this program's) in the language Windows picks for
// this process; "<no string ID>" when there is none, so that no comparison passes empty.
std::wstring ModuleString(HMODULE module, UINT id);
// The same, formatted with wsprintf arguments as the programs format their messages.
std::wstring ModuleText(HMODULE module, UINT id, ...);
std::wstring ModuleTextV(HMODULE module, UINT id, va_list args);

// String id of module's table in language; empty when that language has none.
std::wstring StringOfLanguage(HMODULE module, UINT id, LANGID language);
// The ids of every non-empty string of module's table in language.
std::set<UINT> StringIdsOfLanguage(HMODULE module, LANGID language);
// The ids (or names, as their pointers) of module's resources of type in language.
std::set<UINT_PTR> ResourceIdsOfLanguage(HMODULE module, LPCWSTR type, LANGID language);

}  // namespace test
