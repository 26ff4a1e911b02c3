// A program's resources by language; see string_tables.h.
#include "string_tables.h"

#include <stdlib.h>

namespace test {

// A string block holds 16 strings, each its length followed by its units.
enum { STRINGS_PER_BLOCK = 16 };

static const WCHAR *StringBlock(HMODULE module, UINT block, LANGID language)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
    return loaded != NULL ? (const WCHAR *)LockResource(loaded) : NULL;
}

ResourceImage::ResourceImage(const std::wstring &path)
    : module(LoadLibraryExW(path.c_str(), NULL,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
{
}

ResourceImage::~ResourceImage()
{
    if (module != NULL)
        FreeLibrary(module);
}

LANGID ExpectedLanguage()
{
    const char *expect = getenv("PORTGATE_EXPECT_LANGUAGE");
    return expect != NULL && atoi(expect) != 0 ? (LANGID)atoi(expect) : ENGLISH;
}

std::wstring ModuleString(HMODULE module, UINT id)
{
    const WCHAR *text = NULL;
    int chars = LoadStringW(module != NULL ? module : GetModuleHandleW(NULL), id, (LPWSTR)&text, 0);
    return chars > 0 ? std::wstring(text, chars) : L"<no string " + std::to_wstring(id) + L">";
}

std::wstring ModuleTextV(HMODULE module, UINT id, va_list args)
{
    std::wstring format = ModuleString(module, id);
    WCHAR text[1025];  // wvsprintfW writes at most 1024 units
    wvsprintfW(text, format.c_str(), args);
    return text;
}

std::wstring ModuleText(HMODULE module, UINT id, ...)
{
    va_list args;
    va_start(args, id);
    std::wstring text = ModuleTextV(module, id, args);
    va_end(args);
    return text;
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

std::set<UINT_PTR> ResourceIdsOfLanguage(HMODULE module, LPCWSTR type, LANGID language)
{
    ResourceWalk walk = {language, {}};
    EnumResourceNamesW(module, type, [](HMODULE m, LPCWSTR t, LPWSTR name, LONG_PTR p) -> BOOL {
        EnumResourceLanguagesW(m, t, name, OnLanguage, p);
        return TRUE;
    }, (LONG_PTR)&walk);
    return walk.ids;
}

}  // namespace test
