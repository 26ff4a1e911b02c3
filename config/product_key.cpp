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
