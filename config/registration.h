// The identity under which the credential provider and the tray client are registered
// with Windows: the configuration tool writes these keys, the provider answers to the
// class id, and tests read them back. One place, so the three cannot drift apart.
#pragma once

#include <windows.h>

// {5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}
static const GUID CLSID_WdCredentialProvider =
    {0x5E1C2A94, 0x3B07, 0x4D6F, {0x9A, 0x18, 0xC2, 0xE4, 0xB7, 0xD0, 0x5F, 0x31}};
#define PROVIDER_CLSID_TEXT  L"{5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}"
#define PROVIDER_CLASS_NAME  L"WdCredentialProvider"
#define PROVIDER_DLL_NAME    L"wardtile.dll"
#define TRAY_EXE_NAME        L"wardtray.exe"
#define SETUP_EXE_NAME       L"wardsetup.exe"

// Under HKEY_LOCAL_MACHINE. The class goes to the machine's own classes, never through
// HKEY_CLASSES_ROOT, which may resolve to a user's hive the logon screen never reads.
#define CREDENTIAL_PROVIDERS_KEY \
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers"
#define MACHINE_CLSID_KEY    L"SOFTWARE\\Classes\\CLSID"
#define RUN_KEY              L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
#define RUN_VALUE_NAME       L"WardTray"
