// Open-read-close and open-write-close helpers over the product key.
#include "product_key.h"

#include <wchar.h>

static LONG OpenProductKey(LPCWSTR subkey, REGSAM access, BOOL create, HKEY *key)
{
    WCHAR path[CONFIG_TEXT_CHARS * 2];
    if (subkey != NULL && subkey[0] != L'\0') {
        if (_snwprintf(path, ARRAYSIZE(path), L"%ls\\%ls", PRODUCT_KEY_PATH, subkey) < 0)
            return ERROR_BUFFER_OVERFLOW;
        path[ARRAYSIZE(path) - 1] = L'\0';
    } else {
        wcscpy(path, PRODUCT_KEY_PATH);
    }
    *key = NULL;
    if (create)
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                               access, NULL, key, NULL);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

LONG ReadConfigDword(LPCWSTR subkey, LPCWSTR name, DWORD *value)
{
    *value = 0;
    HKEY key;
    LONG rc = OpenProductKey(subkey, KEY_READ, FALSE, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD data = 0;
    DWORD size = sizeof(data);
    rc = RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE *>(&data), &size);
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS)
        *value = data;
    return rc;
}

LONG ReadConfigString(LPCWSTR subkey, LPCWSTR name, LPWSTR buffer, DWORD chars)
{
    ZeroMemory(buffer, chars * sizeof(WCHAR));
    if (chars < 2)
        return ERROR_INSUFFICIENT_BUFFER;
    HKEY key;
    LONG rc = OpenProductKey(subkey, KEY_READ, FALSE, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD size = chars * sizeof(WCHAR);
    rc = RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(key);
    // A value that fills the whole buffer is accepted only when its last unit is the
    // stored terminator; otherwise it could not be terminated and reads as empty.
    if (rc == ERROR_SUCCESS && size >= chars * sizeof(WCHAR) && buffer[chars - 1] != L'\0')
        rc = ERROR_MORE_DATA;
    // An odd byte count (any type, any writer) ends in half a unit: it is no character,
    // and dropping it leaves the text terminated inside the buffer.
    if (rc == ERROR_SUCCESS && size % sizeof(WCHAR) != 0)
        buffer[size / sizeof(WCHAR)] = L'\0';
    if (rc != ERROR_SUCCESS)
        ZeroMemory(buffer, chars * sizeof(WCHAR));
    return rc;
}

LONG WriteConfigDword(LPCWSTR subkey, LPCWSTR name, DWORD value, BOOL create)
{
    HKEY key;
    LONG rc = OpenProductKey(subkey, KEY_ALL_ACCESS, create, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                        sizeof(value));
    RegCloseKey(key);
    return rc;
}

LONG WriteConfigString(LPCWSTR subkey, LPCWSTR name, LPCWSTR text, BOOL withTerminator,
                       BOOL create)
{
    HKEY key;
    LONG rc = OpenProductKey(subkey, KEY_ALL_ACCESS, create, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD bytes = static_cast<DWORD>((wcslen(text) + (withTerminator ? 1 : 0)) * sizeof(WCHAR));
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), bytes);
    RegCloseKey(key);
    return rc;
}

// ---- structured values

// Appends one unit when there is room for it and the terminator; FALSE when full.
static BOOL AppendUnit(LPWSTR out, DWORD chars, DWORD *length, WCHAR unit)
{
    if (*length + 1 >= chars)
        return FALSE;
    out[(*length)++] = unit;
    return TRUE;
}

void DecodeConfigMessage(LPCWSTR stored, LPCWSTR lineBreak, LPWSTR out, DWORD chars)
{
    if (chars == 0)
        return;
    DWORD length = 0;
    DWORD breakLength = lstrlenW(lineBreak);
    for (LPCWSTR p = stored; p != NULL && *p != L'\0'; p++) {
        if (p[0] == L'\\' && p[1] == L'n') {
            // A line break is kept whole or not at all.
            if (length + breakLength >= chars)
                break;
            for (DWORD i = 0; i < breakLength; i++)
                out[length++] = lineBreak[i];
            p++;
            continue;
        }
        // Never leave the first half of a surrogate pair without its second.
        if (IS_HIGH_SURROGATE(p[0]) && IS_LOW_SURROGATE(p[1]) && length + 2 >= chars)
            break;
        if (!AppendUnit(out, chars, &length, *p))
            break;
    }
    out[length] = L'\0';
}

BOOL EncodeConfigMessage(LPCWSTR text, LPWSTR out, DWORD chars)
{
    if (chars == 0)
        return FALSE;
    DWORD length = 0;
    BOOL fits = TRUE;
    for (LPCWSTR p = text; fits && p != NULL && *p != L'\0'; p++) {
        if (*p == L'\r' || *p == L'\n') {
            if (p[0] == L'\r' && p[1] == L'\n')
                p++;
            fits = AppendUnit(out, chars, &length, L'\\') &&
                   AppendUnit(out, chars, &length, L'n');
        } else {
            fits = AppendUnit(out, chars, &length, *p);
        }
    }
    if (!fits)
        length = 0;
    out[length] = L'\0';
    return fits;
}

int ReadDomainList(WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS])
{
    ZeroMemory(names, sizeof(WCHAR) * DOMAIN_LIST_MAX * CONFIG_TEXT_CHARS);
    HKEY key;
    if (OpenProductKey(SUBKEY_DOMAIN_LIST, KEY_READ, FALSE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL,
                         NULL) != ERROR_SUCCESS)
        values = 0;
    // Empty names (the key's default value) and names too long for a row are passed
    // over, so up to DOMAIN_LIST_MAX real names are kept.
    int count = 0;
    for (DWORD index = 0; index < values && count < DOMAIN_LIST_MAX; index++) {
        WCHAR name[CONFIG_TEXT_CHARS];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumValueW(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS ||
            length == 0)
            continue;
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name, (int)length, names[count],
                         CONFIG_TEXT_CHARS - 1) != (int)length) {
            ZeroMemory(names[count], sizeof(names[count]));
            continue;
        }
        count++;
    }
    RegCloseKey(key);
    return count;
}

LONG ParseVlanId(LPCWSTR name)
{
    if (name == NULL)
        return 0;
    BOOL negative = FALSE;
    if (*name == L'+' || *name == L'-')
        negative = *name++ == L'-';
    // Accumulated as a magnitude and saturated at the 32-bit limits, so that any run
    // of digits gives a defined number.
    unsigned long long magnitude = 0;
    const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
    for (; *name >= L'0' && *name <= L'9'; name++) {
        magnitude = magnitude * 10 + (unsigned)(*name - L'0');
        if (magnitude > limit)
            magnitude = limit;
    }
    if (negative)
        return magnitude == 2147483648ULL ? (LONG)(-2147483647 - 1) : -(LONG)magnitude;
    return (LONG)magnitude;
}

LONG DeleteConfigSubtree(LPCWSTR subkey)
{
    // An empty name would mean the product key itself.
    if (subkey == NULL || subkey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    HKEY key;
    LONG rc = OpenProductKey(NULL, KEY_ALL_ACCESS, FALSE, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegDeleteTreeW(key, subkey);
    RegCloseKey(key);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

DWORD ReadConfigWaitSeconds(LPCWSTR name)
{
    DWORD seconds = 0;
    ReadConfigDword(NULL, name, &seconds);
    return seconds < (DWORD)WAIT_SECONDS_MAX ? seconds : (DWORD)WAIT_SECONDS_MAX;
}
