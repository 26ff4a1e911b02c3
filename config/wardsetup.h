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
    LONG failureLow;          // the range that message names, where it names one
    LONG failureHigh;
} ConfigRecords;

// One row per tab, in tab order (page_table.cpp). The main window applies each operation to
// all rows in this order; each returns SETUP_SUCCESS or SETUP_FAILURE and shows nothing.
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

// ---- the walks over the page table (page_table.cpp)
// Applies one operation of every page in table order; stops at the first failure.
int ReadAllFromRegistry(ConfigRecords *records);
// Checks the records first (CheckRecords), writes nothing when they fail, and puts back
// what was there before when a write fails: the registry then reads as before.
int WriteAllToRegistry(ConfigRecords *records);
// Refuses a file that is no configuration of ours (IsConfigurationFile) and leaves the
// records as they were.
int ReadAllFromFile(ConfigRecords *records, LPCWSTR path);
// Writes a copy beside the file and puts it in the file's place once it is whole; an
// existing file without a byte-order mark is turned into UTF-16 when one of the texts
// cannot be written exactly in the ANSI code page.
int WriteAllToFile(const ConfigRecords *records, LPCWSTR path);
void ReleaseAll(ConfigRecords *records);

// ---- records (config_records.cpp)
// Whether the records can be saved as they stand: ports within PORT_MAX (0: not
// configured), waits within WAIT_SECONDS_MAX, the message fits once encoded, and no
// import switches on a provider whose file is missing. On a failure records->failureText
// names the field.
int CheckRecords(ConfigRecords *records);
// Notes a failed operation's message (a string id) and the range it names in the records;
// returns SETUP_FAILURE.
int RecordFailure(ConfigRecords *records, UINT textId, LONG low, LONG high);
// A deep copy (the VLAN entries are duplicated); FALSE when memory ran out.
BOOL CopyRecords(ConfigRecords *to, const ConfigRecords *from);

// Numbers and lists shared by pages and files.
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
enum ReadResult { VALUE_WAS_READ, VALUE_IS_MISSING, VALUE_TOO_LONG };
// The value of key among the key=value lines of one section (a section as the profile
// functions list it), read as a profile read gives it: blanks around the name and the
// value removed, letter case of the name ignored, one pair of enclosing quotes removed.
ReadResult FindSectionValue(LPCWSTR lines, LPCWSTR key, LPWSTR out, DWORD chars);
// Whether the file holds one of the tool's sections with one of its keys; any other file,
// empty, binary or another program's, is no configuration.
BOOL IsConfigurationFile(LPCWSTR path);
// Whether every text of the records can be written exactly in the ANSI code page.
BOOL RecordsFitAnsi(const ConfigRecords *records);
// A copy of the file at path, beside it, for the profile functions to write into (free
// the returned path with EndConfigFileCopy). A new or empty file's copy holds a UTF-16LE
// byte-order mark, so that they keep Unicode text; an existing file's copy keeps its
// bytes, or is its text turned into UTF-16 with a byte-order mark when toUnicode is set
// and the file has no byte-order mark. NULL when the copy cannot be made.
LPWSTR BeginConfigFileCopy(LPCWSTR path, BOOL toUnicode);
// With keep set, puts the copy in the file's place; otherwise, or when that fails, deletes
// it and leaves the file as it was. Frees copy; FALSE when the file was not replaced.
BOOL EndConfigFileCopy(LPWSTR copy, LPCWSTR path, BOOL keep);

// ---- command-line import (config_import.cpp)
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
// system on. SETUP_SUCCESS/FAILURE; a failure leaves every entry as it was before.
int RegisterComponents(void);
// The opposite order; a failure leaves every entry as it was before.
int UnregisterComponents(void);
// The Run entry's command line: the quoted path of wardtray.exe beside this program and
// " -t". FALSE when the module path cannot be had whole.
BOOL FormatTrayCommandLine(LPWSTR commandLine, DWORD chars);

// ---- copies of what a save changes (config_backup.cpp)
enum {
    BACKUP_REGISTRATION = 1,   // the provider's entries and the Run entry
    BACKUP_PRODUCT_KEY = 2,    // the tool's values, DomainList and GroupList
};
typedef struct RegistryBackup RegistryBackup;
// NULL when something could not be read or memory ran out: then do not write.
RegistryBackup *BackupConfiguration(UINT what);
// Puts back what differs from the copy; FALSE when some of it could not be put back.
BOOL RestoreConfiguration(const RegistryBackup *backup);
void FreeBackup(RegistryBackup *backup);

// ---- pages (general_page.cpp, vlan_dhcp_pages.cpp) and their controls (page_controls.cpp)
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
// An unsigned field (port, wait): empty is 0, a text that is no such number is MAXDWORD.
DWORD GetDlgItemField(HWND dialog, int id);

// ---- the main window and start-up (main_window.cpp)
// Runs the main window as a modal dialog on records; returns 1 (OK), 2 (Cancel) or
// IDM_EXIT.
INT_PTR RunMainWindow(HINSTANCE instance, ConfigRecords *records);
// The whole program: the words of its command line (split by the C runtime, Windows'
// rules), import switch, single instance, administrator test, window. Returns the process
// exit code.
int RunWardsetup(HINSTANCE instance, int argc, LPWSTR *argv, BOOL isAdministrator);
