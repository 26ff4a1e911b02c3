// The configuration tool's test kit; see setup_support.h.
#include "setup_support.h"
#include "product_key.h"
#include "registration.h"

#include <sddl.h>
#include <stdio.h>

namespace test {

static const wchar_t *const SNAPSHOT_ROOTS[] = {
    PRODUCT_KEY_PATH,
    CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT,
    MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT,
};

static std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];  // the longest key name and its terminator
    for (DWORD i = 0;; i++) {
        DWORD chars = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            return names;
        names.push_back(std::wstring(name, chars));
    }
}

static void SnapshotKey(const std::wstring &path, ConfigSnapshot *snapshot)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    (*snapshot)[path + L"\\"] = L"";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; i++) {
        DWORD chars = (DWORD)name.size(), bytes = (DWORD)data.size(), type = 0;
        if (RegEnumValueW(key, i, name.data(), &chars, NULL, &type, data.data(), &bytes) !=
            ERROR_SUCCESS)
            break;
        std::wstring text = std::to_wstring(type) + L":";
        // Strings compare by their text: a stored terminator is no difference to a reader.
        if (type == REG_SZ) {
            text.append((const wchar_t *)data.data(), bytes / 2);
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
        } else {
            for (DWORD b = 0; b < bytes; b++) {
                wchar_t hex[4];
                swprintf(hex, 4, L"%02x", data[b]);
                text += hex;
            }
        }
        (*snapshot)[path + L"|" + std::wstring(name.data(), chars)] = text;
    }
    std::vector<std::wstring> subkeys = SubkeyNames(key);
    RegCloseKey(key);
    for (const auto &subkey : subkeys)
        SnapshotKey(path + L"\\" + subkey, snapshot);
}

ConfigSnapshot SnapshotConfiguration()
{
    ConfigSnapshot snapshot;
    for (const wchar_t *root : SNAPSHOT_ROOTS)
        SnapshotKey(root, &snapshot);
    wchar_t run[4096] = L"";
    DWORD bytes = sizeof(run) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RUN_KEY, RUN_VALUE_NAME, RRF_RT_REG_SZ, NULL, run,
                     &bytes) == ERROR_SUCCESS)
        snapshot[L"Run|" RUN_VALUE_NAME] = run;
    return snapshot;
}

void ClearConfiguration()
{
    for (const wchar_t *root : SNAPSHOT_ROOTS) {
        // The tree's contents first: a key with subkeys cannot be deleted.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, root);
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RUN_KEY, RUN_VALUE_NAME);
}

std::set<std::wstring> GroupListSubkeys()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST, 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return {};
    std::vector<std::wstring> names = SubkeyNames(key);
    RegCloseKey(key);
    return std::set<std::wstring>(names.begin(), names.end());
}

std::wstring StoredText(LPCWSTR subkey, LPCWSTR name)
{
    WCHAR text[CONFIG_TEXT_CHARS];
    if (ReadConfigString(subkey, name, text, CONFIG_TEXT_CHARS) != ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

DWORD StoredNumber(LPCWSTR subkey, LPCWSTR name)
{
    DWORD value = 0;
    return ReadConfigDword(subkey, name, &value) == ERROR_SUCCESS ? value : MISSING_NUMBER;
}

bool WriteUtf16File(const std::wstring &path, const std::wstring &text)
{
    std::wstring content = L"\xFEFF" + text;
    return WriteBytes(path, content.data(), (DWORD)(content.size() * sizeof(wchar_t)));
}

bool WriteAnsiFile(const std::wstring &path, const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string content(bytes, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), &content[0], bytes, NULL, NULL);
    return WriteBytes(path, content.data(), (DWORD)content.size());
}

std::wstring ProviderFile::Path()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\" PROVIDER_DLL_NAME;
}

ProviderFile::ProviderFile() : backup(Path() + L".wardsetup-test")
{
    moved = MoveFileExW(Path().c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING);
}

ProviderFile::~ProviderFile()
{
    Remove();
    if (moved)
        MoveFileExW(backup.c_str(), Path().c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool ProviderFile::Install(const std::wstring &standIn)
{
    return CopyFileW(standIn.c_str(), Path().c_str(), FALSE) != 0;
}

bool ProviderFile::Remove()
{
    return DeleteFileW(Path().c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

WriteProtectedKey::WriteProtectedKey(const wchar_t *path) : protectedNow(false), key(NULL)
{
    if (path == NULL || path[0] == L'\0')  // never HKEY_LOCAL_MACHINE itself
        return;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS)
        return;
    DWORD bytes = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &bytes);
    old.resize(bytes);
    if (bytes == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, old.data(), &bytes) !=
                          ERROR_SUCCESS)
        return;
    PSECURITY_DESCRIPTOR readOnly = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                              &readOnly, NULL))
        return;
    protectedNow = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
    LocalFree(readOnly);
}

WriteProtectedKey::~WriteProtectedKey()
{
    if (protectedNow)
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, old.data());
    if (key != NULL)
        RegCloseKey(key);
}

}  // namespace test
