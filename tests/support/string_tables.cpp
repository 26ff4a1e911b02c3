// A program's resources by language; see string_tables.h.
#include "string_tables.h"

#include <utility>

namespace test {

// A string block holds 16 strings, each its length followed by its units.
enum { STRINGS_PER_BLOCK = 16 };

static const WCHAR *StringBlock(HMODULE module, UINT block, LANGID language)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
    return loaded != NULL ? (const WCHAR *)LockResource(loaded) : NULL;
}

std::wstring StringOfLanguage(HMODULE module, UINT id, LANGID language)
{
    const WCHAR *at = StringBlock(module, id / STRINGS_PER_BLOCK + 1, language);
    if (at == NULL)
        return L"";
    for (UINT i = 0; i < id % STRINGS_PER_BLOCK; i++)
        at += 1 + *at;
    return std::wstring(at + 1, *at);
}

std::set<UINT> StringIdsOfLanguage(HMODULE module, LANGID language)
{
    std::set<UINT> ids;
    for (UINT_PTR block : ResourceIdsOfLanguage(module, RT_STRING, language)) {
        const WCHAR *at = StringBlock(module, (UINT)block, language);
        for (UINT i = 0; at != NULL && i < STRINGS_PER_BLOCK; i++, at += 1 + *at) {
            if (*at != 0)
                ids.insert(((UINT)block - 1) * STRINGS_PER_BLOCK + i);
        }
    }
    return ids;
}

struct ResourceWalk {
    LANGID language;
    std::set<UINT_PTR> ids;
};

static BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR p)
{
    ResourceWalk *walk = (ResourceWalk *)p;
    if (language == walk->language)
        walk->ids.insert((UINT_PTR)name);
    return TRUE;
}

static BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR p)
{
    EnumResourceLanguagesW(module, type, name, OnLanguage, p);
    return TRUE;
}

std::set<UINT_PTR> ResourceIdsOfLanguage(HMODULE module, LPCWSTR type, LANGID language)
{
    ResourceWalk walk = {language, {}};
    EnumResourceNamesW(module, type, OnName, (LONG_PTR)&walk);
    return walk.ids;
}

}  // namespace test
