// Registration of the credential provider and the tray client with Windows: the on/off
// switch of the whole system. The "Credential Providers" entry is the switch, so it is
// written last and removed first; the parts it needs exist whenever it does.
#include "wardsetup.h"
#include "registration.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static const WCHAR PROVIDER_ENTRY_KEY[] = CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT;
static const WCHAR CLASS_KEY[] = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT;
static const WCHAR INPROC_KEY[] = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT L"\\InprocServer32";

// Longest module path the platform hands out.
enum { MODULE_PATH_CHARS = 32768 };

static BOOL SetMachineString(LPCWSTR path, LPCWSTR name, LPCWSTR text)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    LONG rc = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)text,
                             (DWORD)((wcslen(text) + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// A key with everything below it; a key that is not there counts as removed.
static BOOL DeleteMachineTree(LPCWSTR path)
{
    LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

static BOOL DeleteRunEntry(void)
{
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_SET_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (rc != ERROR_SUCCESS)
        return FALSE;
    rc = RegDeleteValueW(key, RUN_VALUE_NAME);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

BOOL IsProviderInstalled(void)
{
    UINT chars = GetSystemDirectoryW(NULL, 0);
    if (chars == 0)
        return FALSE;
    size_t pathChars = chars + 1 + wcslen(PROVIDER_DLL_NAME) + 1;
    LPWSTR path = (LPWSTR)calloc(pathChars, sizeof(WCHAR));
    if (path == NULL)
        return FALSE;
    BOOL installed = FALSE;
    UINT got = GetSystemDirectoryW(path, chars);
    if (got > 0 && got < chars) {
        wcscat(path, L"\\" PROVIDER_DLL_NAME);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(path, &found);
        if (search != INVALID_HANDLE_VALUE) {
            installed = !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            FindClose(search);
        }
    }
    free(path);
    return installed;
}

int QueryRegistration(void)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PROVIDER_ENTRY_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    WCHAR name[CONFIG_TEXT_CHARS + 1] = L"";
    DWORD bytes = CONFIG_TEXT_CHARS * sizeof(WCHAR);
    LONG rc = RegQueryValueExW(key, NULL, NULL, NULL, (BYTE *)name, &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && _wcsicmp(name, PROVIDER_CLASS_NAME) == 0;
}

BOOL FormatTrayCommandLine(LPWSTR commandLine, DWORD chars)
{
    LPWSTR path = (LPWSTR)calloc(MODULE_PATH_CHARS, sizeof(WCHAR));
    if (path == NULL)
        return FALSE;
    // A path that fills the buffer was cut: registering it would start some other program.
    DWORD length = GetModuleFileNameW(NULL, path, MODULE_PATH_CHARS);
    LPWSTR slash = length > 0 && length < MODULE_PATH_CHARS ? wcsrchr(path, L'\\') : NULL;
    BOOL ok = FALSE;
    if (slash != NULL) {
        *slash = L'\0';
        // Quoted: unquoted, "C:\Program Files\..." would start "C:\Program.exe".
        int written = _snwprintf(commandLine, chars, L"\"%ls\\%ls\" -t", path, TRAY_EXE_NAME);
        ok = written > 0 && (DWORD)written < chars;
    }
    if (!ok && chars > 0)
        commandLine[0] = L'\0';
    free(path);
    return ok;
}

// Both put back what was there before when a step fails, so a failure leaves the
// registration exactly as it was: on stays on, off stays off.
static int ChangeRegistration(BOOL enable)
{
    RegistryBackup *backup = BackupConfiguration(BACKUP_REGISTRATION);
    if (backup == NULL)
        return SETUP_FAILURE;
    BOOL ok = FALSE;
    if (enable) {
        LPWSTR command = (LPWSTR)calloc(MODULE_PATH_CHARS + 32, sizeof(WCHAR));
        ok = command != NULL && FormatTrayCommandLine(command, MODULE_PATH_CHARS + 32) &&
             SetMachineString(CLASS_KEY, NULL, PROVIDER_CLASS_NAME) &&
             SetMachineString(INPROC_KEY, NULL, PROVIDER_DLL_NAME) &&
             SetMachineString(INPROC_KEY, L"ThreadingModel", L"Apartment") &&
             SetMachineString(RUN_KEY, RUN_VALUE_NAME, command) &&
             SetMachineString(PROVIDER_ENTRY_KEY, NULL, PROVIDER_CLASS_NAME);
        free(command);
    } else {
        // The switch first; its parts go only once it is gone.
        ok = DeleteMachineTree(PROVIDER_ENTRY_KEY) && DeleteRunEntry() &&
             DeleteMachineTree(CLASS_KEY);
    }
    if (!ok)
        RestoreConfiguration(backup);
    FreeBackup(backup);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

int UnregisterComponents(void)
{
    return ChangeRegistration(FALSE);
}

int RegisterComponents(void)
{
    return ChangeRegistration(TRUE);
}
