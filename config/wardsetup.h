// The configuration tool's records, its page table and the operations on them: what the
// main window, the pages, the configuration file and the command-line import share.
#pragma once

#include <windows.h>

#include "product_key.h"

// Private messages between a page window and its record.
#define WM_PAGE_SAVE (WM_USER + 1)   // the page copies its controls into its record
#define WM_PAGE_LOAD (WM_USER + 2)   // the page fills its controls from its record

// Results of the tool's operations.
enum {
    SETUP_SUCCESS = 1,
    SETUP_FAILURE = 2,
};

// Process exit code of a failed start or import.
enum { SETUP_EXIT_FAILURE = 2 };

typedef struct GeneralSettings {
    int enabled;                                      // provider and tray client registered
    WCHAR logonImage[CONFIG_TEXT_CHARS];
    WCHAR domainNames[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS];  // packed; an empty slot ends the list
    int multiInterfaceCheck;
    WCHAR multiInterfaceMessage[CONFIG_TEXT_CHARS];   // edit form: line breaks as CR LF
} GeneralSettings;

typedef struct VlanLogoffEntry {
    LONG vlanId;                                      // signed: names the GroupList subkey
    WCHAR address[CONFIG_SERVER_CHARS];
    DWORD port;
    struct VlanLogoffEntry *next;
} VlanLogoffEntry;

typedef struct VlanSettings {
    WCHAR logonServer[CONFIG_SERVER_CHARS];
    DWORD logonPort;
    WCHAR logoffServer[CONFIG_SERVER_CHARS];
    DWORD logoffPort;
    VlanLogoffEntry *entries;                         // owned, in append order
} VlanSettings;

typedef struct DhcpSettings {
    DWORD enableDhcp;
    DWORD notFindDomain;
    DWORD waitIpRenew;
    DWORD waitFindDomain;
} DhcpSettings;

// Everything the tool edits, for the whole run.
typedef struct ConfigRecords {
    GeneralSettings general;
    VlanSettings vlan;
    DhcpSettings dhcp;
    BOOL providerInstalled;   // wardtile.dll was in the system folder when the window opened
    BOOL importing;           // command-line import: the provider file is not consulted
    UINT failureText;         // string id of the last failed operation's message, or 0
} ConfigRecords;

// One row per tab, in tab order. The main window applies each operation to all rows in
// this order; each returns SETUP_SUCCESS or SETUP_FAILURE and shows nothing.
typedef struct SettingsPage {
    UINT captionId;
    UINT templateId;
    DLGPROC dialogProc;
    int (*readRegistry)(ConfigRecords *records);
    int (*writeRegistry)(ConfigRecords *records);
    int (*readFile)(ConfigRecords *records, LPCWSTR path);
    int (*writeFile)(const ConfigRecords *records, LPCWSTR path);
    void (*release)(ConfigRecords *records);
} SettingsPage;

enum { SETTINGS_PAGE_COUNT = 3 };
extern const SettingsPage g_settingsPages[SETTINGS_PAGE_COUNT];

// Applies one operation of every page in table order; stops at the first failure.
int ReadAllFromRegistry(ConfigRecords *records);
int WriteAllToRegistry(ConfigRecords *records);
int ReadAllFromFile(ConfigRecords *records, LPCWSTR path);
int WriteAllToFile(const ConfigRecords *records, LPCWSTR path);
void ReleaseAll(ConfigRecords *records);
// A deep copy (the VLAN entries are duplicated); FALSE when memory ran out.
BOOL CopyRecords(ConfigRecords *to, const ConfigRecords *from);

// ---- numbers and lists shared by pages and files
// Our one rule for numbers typed or stored as text: blanks around are ignored, then an
// optional sign and decimal digits that fit 32 bits; anything else is invalid and gives
// 0. Returns whether the text was a valid number.
BOOL ParseConfigNumber(LPCWSTR text, LONG *value);
// Appends a copy of entry at the tail; FALSE (and nothing appended) when out of memory.
BOOL AppendVlanEntry(VlanSettings *vlan, LONG vlanId, LPCWSTR address, DWORD port);
void FreeVlanEntries(VlanSettings *vlan);
int CountDomainNames(const GeneralSettings *general);

// ---- page operations (config_registry.cpp, config_file.cpp)
int GeneralReadRegistry(ConfigRecords *records);
int GeneralWriteRegistry(ConfigRecords *records);
int GeneralReadFile(ConfigRecords *records, LPCWSTR path);
int GeneralWriteFile(const ConfigRecords *records, LPCWSTR path);
void GeneralRelease(ConfigRecords *records);
int VlanReadRegistry(ConfigRecords *records);
int VlanWriteRegistry(ConfigRecords *records);
int VlanReadFile(ConfigRecords *records, LPCWSTR path);
int VlanWriteFile(const ConfigRecords *records, LPCWSTR path);
void VlanRelease(ConfigRecords *records);
int DhcpReadRegistry(ConfigRecords *records);
int DhcpWriteRegistry(ConfigRecords *records);
int DhcpReadFile(ConfigRecords *records, LPCWSTR path);
int DhcpWriteFile(const ConfigRecords *records, LPCWSTR path);
void DhcpRelease(ConfigRecords *records);

// ---- configuration file (config_file.cpp)
// Makes sure path exists for the profile functions; a file made here starts with a
// UTF-16LE byte-order mark so that they keep Unicode text. FALSE when it cannot be made.
BOOL PrepareConfigFile(LPCWSTR path);
// The command-line import: resolves path against the current folder, requires a regular
// readable file, reads all pages from it into empty records and writes them to the
// registry. SETUP_SUCCESS only when all of that succeeded; a file that cannot be used
// changes nothing.
int ImportConfigFile(LPCWSTR path);

// ---- registration (registration.cpp)
// wardtile.dll in the system folder.
BOOL IsProviderInstalled(void);
// 1 when the provider's "Credential Providers" entry names WdCredentialProvider.
int QueryRegistration(void);
// Class keys, then the Run entry, then the "Credential Providers" entry that switches the
// system on; on a failure what this call wrote is removed again. SETUP_SUCCESS/FAILURE.
int RegisterComponents(void);
// The opposite order; stops at the first entry that cannot be removed, so the switch is
// never left on with its parts gone.
int UnregisterComponents(void);
// The Run entry's command line: the quoted path of wardtray.exe beside this program and
// " -t". FALSE when the module path cannot be had whole.
BOOL FormatTrayCommandLine(LPWSTR commandLine, DWORD chars);

// ---- windows (main_window.cpp, pages)
INT_PTR CALLBACK GeneralPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VlanPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DhcpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Answers the pages' colour messages with the white brush; FALSE for other messages.
INT_PTR PageColor(UINT message, WPARAM wParam);
// Loads a "/"-separated filter string and turns every "/" into a NUL.
void LoadFileFilter(UINT id, LPWSTR filter, DWORD chars);
// Sets an edit field to a number: 0 as an empty field.
void SetDlgItemNumber(HWND dialog, int id, LONG value, BOOL isSigned);
// An edit field's number by ParseConfigNumber; empty or invalid is 0.
LONG GetDlgItemNumber(HWND dialog, int id);

// Runs the main window as a modal dialog on records; returns 1 (OK), 2 (Cancel) or
// IDM_EXIT.
INT_PTR RunMainWindow(HINSTANCE instance, ConfigRecords *records);
// The whole program: the words of its command line (split by the C runtime, Windows'
// rules), import switch, single instance, administrator test, window. Returns the process
// exit code.
int RunWardsetup(HINSTANCE instance, int argc, LPWSTR *argv, BOOL isAdministrator);
