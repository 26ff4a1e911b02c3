// The configuration file: an INI-style profile file read and written through the
// platform's profile functions, one readFile/writeFile pair per page, and the
// command-line import that writes a file's configuration straight into the registry.
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define SECTION_GENERAL     L"General"
#define SECTION_DOMAIN_LIST L"DomainList"
#define SECTION_VLAN        L"VLAN"
#define SECTION_DHCP        L"DHCP"
#define SECTION_GROUP_LIST  L"GroupList"   // followed by the VLAN id
#define KEY_ENABLE          L"Enable"

enum { GROUP_LIST_PREFIX_CHARS = 9 };

// What a profile read answers for a missing key; no configuration value holds it.
static const WCHAR MISSING_KEY[] = L"\x01\x02missing";

enum ReadResult { VALUE_WAS_READ, VALUE_IS_MISSING, VALUE_TOO_LONG };

// Reads a text value of at most chars - 1 characters. A longer value is refused rather
// than cut: a cut server address or path would be silently wrong.
static ReadResult ReadProfileText(LPCWSTR section, LPCWSTR key, LPCWSTR path, LPWSTR out,
                                  DWORD chars)
{
    WCHAR buffer[CONFIG_TEXT_CHARS + 1];
    // One unit more than the limit: a value that fills it did not fit.
    DWORD got = GetPrivateProfileStringW(section, key, MISSING_KEY, buffer, chars + 1, path);
    if (wcscmp(buffer, MISSING_KEY) == 0)
        return VALUE_IS_MISSING;
    if (got >= chars)
        return VALUE_TOO_LONG;
    wcscpy(out, buffer);
    return VALUE_WAS_READ;
}

// A number by our rule: a missing key leaves *value alone, an invalid text gives 0.
static void ReadProfileNumber(LPCWSTR section, LPCWSTR key, LPCWSTR path, DWORD *value)
{
    WCHAR text[32];
    ReadResult result = ReadProfileText(section, key, path, text, ARRAYSIZE(text));
    if (result == VALUE_IS_MISSING)
        return;
    LONG number = 0;
    if (result == VALUE_WAS_READ)
        ParseConfigNumber(text, &number);
    *value = (DWORD)number;
}

static void ReadProfileSwitch(LPCWSTR section, LPCWSTR key, LPCWSTR path, int *value)
{
    DWORD number = (DWORD)*value;
    ReadProfileNumber(section, key, path, &number);
    *value = number != 0;
}

// Writes a value so that it reads back as it stands. The profile functions end a value at
// a line break (the rest would become lines of their own, even sections) and strip blanks
// and one pair of enclosing quotes on reading: line breaks become blanks, and a value that
// begins or ends with a blank or a quote is put in double quotes.
static BOOL WriteProfileText(LPCWSTR section, LPCWSTR key, LPCWSTR text, LPCWSTR path)
{
    WCHAR value[CONFIG_TEXT_CHARS + 2];
    size_t length = wcslen(text);
    if (length > CONFIG_TEXT_CHARS - 1)
        return FALSE;
    BOOL quote = length > 0 && (wcschr(L" \t\"'", text[0]) != NULL ||
                                wcschr(L" \t\"'", text[length - 1]) != NULL);
    size_t at = 0;
    if (quote)
        value[at++] = L'"';
    for (size_t i = 0; i < length; i++)
        value[at++] = (text[i] == L'\r' || text[i] == L'\n') ? L' ' : text[i];
    if (quote)
        value[at++] = L'"';
    value[at] = L'\0';
    return WritePrivateProfileStringW(section, key, value, path);
}

static BOOL WriteProfileNumber(LPCWSTR section, LPCWSTR key, LONG value, LPCWSTR path)
{
    WCHAR text[16];
    swprintf(text, ARRAYSIZE(text), L"%ld", value);
    return WritePrivateProfileStringW(section, key, text, path);
}

// A double-terminated list the profile functions fill (section names, or the key=value
// lines of one section), read into a buffer grown until the whole list fits; free it.
// NULL when memory ran out.
static LPWSTR ReadProfileList(LPCWSTR section, LPCWSTR path)
{
    for (DWORD chars = 4096; chars <= (1u << 26); chars *= 2) {
        LPWSTR list = (LPWSTR)calloc(chars, sizeof(WCHAR));
        if (list == NULL)
            return NULL;
        // A list that did not fit comes back cut, with chars - 2 as its length.
        DWORD got = section == NULL ? GetPrivateProfileSectionNamesW(list, chars, path)
                                    : GetPrivateProfileSectionW(section, list, chars, path);
        if (got < chars - 2)
            return list;
        free(list);
    }
    return NULL;
}

static LPWSTR ReadSectionNames(LPCWSTR path)
{
    return ReadProfileList(NULL, path);
}

// The value of key among the key=value lines of one section, as a profile read gives it:
// the first line with that name (letter case ignored), one pair of enclosing quotes
// removed. One read per section instead of one per key keeps a file of many GroupList
// sections quick.
static ReadResult FindSectionValue(LPCWSTR lines, LPCWSTR key, LPWSTR out, DWORD chars)
{
    size_t keyLength = wcslen(key);
    for (LPCWSTR line = lines; *line != L'\0'; line += wcslen(line) + 1) {
        LPCWSTR equals = wcschr(line, L'=');
        size_t nameLength = equals != NULL ? (size_t)(equals - line) : wcslen(line);
        if (nameLength != keyLength || _wcsnicmp(line, key, keyLength) != 0)
            continue;
        if (equals == NULL)
            return VALUE_IS_MISSING;  // a key without "=" reads as missing
        LPCWSTR value = equals + 1;
        size_t length = wcslen(value);
        if (length >= 2 && (value[0] == L'"' || value[0] == L'\'') && value[length - 1] == value[0]) {
            value++;
            length -= 2;
        }
        if (length >= chars)
            return VALUE_TOO_LONG;
        wmemcpy(out, value, length);
        out[length] = L'\0';
        return VALUE_WAS_READ;
    }
    return VALUE_IS_MISSING;
}

static BOOL IsGroupListSection(LPCWSTR name)
{
    return wcsncmp(name, SECTION_GROUP_LIST, GROUP_LIST_PREFIX_CHARS) == 0;
}

BOOL PrepareConfigFile(LPCWSTR path)
{
    static const BYTE UTF16_BOM[2] = {0xFF, 0xFE};
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return FALSE;
        // An existing empty file is as good as new; any other keeps its encoding.
        file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return FALSE;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file, &size) || size.QuadPart != 0) {
            CloseHandle(file);
            return TRUE;
        }
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, UTF16_BOM, sizeof(UTF16_BOM), &written, NULL) &&
              written == sizeof(UTF16_BOM);
    CloseHandle(file);
    return ok;
}

// ---- General

int GeneralReadFile(ConfigRecords *records, LPCWSTR path)
{
    GeneralSettings *general = &records->general;
    ReadProfileSwitch(SECTION_GENERAL, KEY_ENABLE, path, &general->enabled);
    ReadProfileSwitch(SECTION_GENERAL, VALUE_MULTI_INTERFACE_CHECK, path,
                      &general->multiInterfaceCheck);
    if (ReadProfileText(SECTION_GENERAL, VALUE_LOGON_IMAGE, path, general->logonImage,
                        CONFIG_TEXT_CHARS) == VALUE_TOO_LONG)
        return SETUP_FAILURE;
    WCHAR stored[CONFIG_TEXT_CHARS];
    ReadResult result = ReadProfileText(SECTION_GENERAL, VALUE_MULTI_INTERFACE_MESSAGE, path,
                                        stored, CONFIG_TEXT_CHARS);
    if (result == VALUE_TOO_LONG)
        return SETUP_FAILURE;
    if (result == VALUE_WAS_READ)
        DecodeConfigMessage(stored, L"\r\n", general->multiInterfaceMessage, CONFIG_TEXT_CHARS);

    // Keys 0 to 9 in turn up to the first missing or empty one; names read replace the
    // list, no name read keeps it.
    WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS];
    int count = 0;
    for (; count < DOMAIN_LIST_MAX; count++) {
        WCHAR key[4];
        swprintf(key, ARRAYSIZE(key), L"%d", count);
        result = ReadProfileText(SECTION_DOMAIN_LIST, key, path, names[count], CONFIG_TEXT_CHARS);
        if (result == VALUE_TOO_LONG)
            return SETUP_FAILURE;
        if (result == VALUE_IS_MISSING || names[count][0] == L'\0')
            break;
    }
    if (count > 0) {
        ZeroMemory(general->domainNames, sizeof(general->domainNames));
        memcpy(general->domainNames, names, count * sizeof(names[0]));
    }
    return SETUP_SUCCESS;
}

int GeneralWriteFile(const ConfigRecords *records, LPCWSTR path)
{
    const GeneralSettings *general = &records->general;
    BOOL ok = WriteProfileNumber(SECTION_GENERAL, KEY_ENABLE, general->enabled != 0, path) &&
              WriteProfileText(SECTION_GENERAL, VALUE_LOGON_IMAGE, general->logonImage, path);
    for (int slot = 0; ok && slot < DOMAIN_LIST_MAX; slot++) {
        WCHAR key[4];
        swprintf(key, ARRAYSIZE(key), L"%d", slot);
        if (general->domainNames[slot][0] != L'\0')
            ok = WriteProfileText(SECTION_DOMAIN_LIST, key, general->domainNames[slot], path);
        else
            ok = WritePrivateProfileStringW(SECTION_DOMAIN_LIST, key, NULL, path);
    }
    WCHAR encoded[CONFIG_TEXT_CHARS];
    ok = ok &&
         WriteProfileNumber(SECTION_GENERAL, VALUE_MULTI_INTERFACE_CHECK,
                            general->multiInterfaceCheck != 0, path) &&
         EncodeConfigMessage(general->multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS) &&
         WriteProfileText(SECTION_GENERAL, VALUE_MULTI_INTERFACE_MESSAGE, encoded, path);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

// ---- VLAN

int VlanReadFile(ConfigRecords *records, LPCWSTR path)
{
    VlanSettings *vlan = &records->vlan;
    if (ReadProfileText(SECTION_VLAN, VALUE_VLAN_LOGON_SERVER, path, vlan->logonServer,
                        CONFIG_SERVER_CHARS) == VALUE_TOO_LONG ||
        ReadProfileText(SECTION_VLAN, VALUE_VLAN_LOGOFF_SERVER, path, vlan->logoffServer,
                        CONFIG_SERVER_CHARS) == VALUE_TOO_LONG)
        return SETUP_FAILURE;
    ReadProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGON_PORT, path, &vlan->logonPort);
    ReadProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGOFF_PORT, path, &vlan->logoffPort);

    FreeVlanEntries(vlan);
    LPWSTR sections = ReadSectionNames(path);
    if (sections == NULL)
        return SETUP_FAILURE;
    int rc = SETUP_SUCCESS;
    for (LPCWSTR name = sections; *name != L'\0' && rc == SETUP_SUCCESS;
         name += wcslen(name) + 1) {
        if (!IsGroupListSection(name))
            continue;
        WCHAR address[CONFIG_SERVER_CHARS] = L"";
        WCHAR portText[32] = L"";
        LONG port = 0;
        LPWSTR lines = ReadProfileList(name, path);
        if (lines == NULL ||
            FindSectionValue(lines, VALUE_VLAN_LOGOFF_SERVER, address, CONFIG_SERVER_CHARS) ==
                VALUE_TOO_LONG)
            rc = SETUP_FAILURE;
        else if (FindSectionValue(lines, VALUE_VLAN_LOGOFF_PORT, portText, ARRAYSIZE(portText)) ==
                 VALUE_WAS_READ)
            ParseConfigNumber(portText, &port);
        free(lines);
        if (rc == SETUP_SUCCESS &&
            !AppendVlanEntry(vlan, ParseVlanId(name + GROUP_LIST_PREFIX_CHARS), address,
                             (DWORD)port))
            rc = SETUP_FAILURE;
    }
    free(sections);
    if (rc != SETUP_SUCCESS)
        FreeVlanEntries(vlan);
    return rc;
}

int VlanWriteFile(const ConfigRecords *records, LPCWSTR path)
{
    const VlanSettings *vlan = &records->vlan;
    LPWSTR sections = ReadSectionNames(path);
    if (sections == NULL)
        return SETUP_FAILURE;
    BOOL ok = TRUE;
    for (LPCWSTR name = sections; *name != L'\0' && ok; name += wcslen(name) + 1) {
        if (IsGroupListSection(name))
            ok = WritePrivateProfileStringW(name, NULL, NULL, path);
    }
    free(sections);
    ok = ok && WriteProfileText(SECTION_VLAN, VALUE_VLAN_LOGON_SERVER, vlan->logonServer, path) &&
         WriteProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGON_PORT, (LONG)vlan->logonPort, path) &&
         WriteProfileText(SECTION_VLAN, VALUE_VLAN_LOGOFF_SERVER, vlan->logoffServer, path) &&
         WriteProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGOFF_PORT, (LONG)vlan->logoffPort, path);
    for (const VlanLogoffEntry *entry = vlan->entries; ok && entry != NULL; entry = entry->next) {
        WCHAR section[32];
        swprintf(section, ARRAYSIZE(section), SECTION_GROUP_LIST L"%ld", entry->vlanId);
        ok = WriteProfileText(section, VALUE_VLAN_LOGOFF_SERVER, entry->address, path) &&
             WriteProfileNumber(section, VALUE_VLAN_LOGOFF_PORT, (LONG)entry->port, path);
    }
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

// ---- DHCP

int DhcpReadFile(ConfigRecords *records, LPCWSTR path)
{
    DhcpSettings *dhcp = &records->dhcp;
    ReadProfileNumber(SECTION_DHCP, VALUE_ENABLE_DHCP, path, &dhcp->enableDhcp);
    ReadProfileNumber(SECTION_DHCP, VALUE_NOT_FIND_DOMAIN, path, &dhcp->notFindDomain);
    ReadProfileNumber(SECTION_DHCP, VALUE_WAIT_IP_RENEW, path, &dhcp->waitIpRenew);
    ReadProfileNumber(SECTION_DHCP, VALUE_WAIT_FIND_DOMAIN, path, &dhcp->waitFindDomain);
    dhcp->enableDhcp = dhcp->enableDhcp != 0;
    dhcp->notFindDomain = dhcp->notFindDomain != 0;
    return SETUP_SUCCESS;
}

int DhcpWriteFile(const ConfigRecords *records, LPCWSTR path)
{
    const DhcpSettings *dhcp = &records->dhcp;
    BOOL ok = WriteProfileNumber(SECTION_DHCP, VALUE_ENABLE_DHCP, dhcp->enableDhcp != 0, path) &&
              WriteProfileNumber(SECTION_DHCP, VALUE_NOT_FIND_DOMAIN, dhcp->notFindDomain != 0,
                                 path) &&
              WriteProfileNumber(SECTION_DHCP, VALUE_WAIT_IP_RENEW, (LONG)dhcp->waitIpRenew, path) &&
              WriteProfileNumber(SECTION_DHCP, VALUE_WAIT_FIND_DOMAIN, (LONG)dhcp->waitFindDomain,
                                 path);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

// ---- command-line import

// The full path of a regular file that opens for reading (free it), or NULL. A bare name
// would otherwise be looked up in the Windows folder by the profile functions.
static LPWSTR ResolveImportPath(LPCWSTR path)
{
    if (path == NULL || path[0] == L'\0' || wcspbrk(path, L"*?") != NULL)
        return NULL;
    DWORD chars = GetFullPathNameW(path, 0, NULL, NULL);
    if (chars == 0)
        return NULL;
    LPWSTR full = (LPWSTR)calloc(chars, sizeof(WCHAR));
    if (full == NULL)
        return NULL;
    DWORD got = GetFullPathNameW(path, chars, full, NULL);
    DWORD attributes = got > 0 && got < chars ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    BOOL usable = attributes != INVALID_FILE_ATTRIBUTES &&
                  !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    if (usable) {
        HANDLE file = CreateFileW(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        usable = file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (!usable) {
        free(full);
        return NULL;
    }
    return full;
}

int ImportConfigFile(LPCWSTR path)
{
    LPWSTR full = ResolveImportPath(path);
    if (full == NULL)
        return SETUP_FAILURE;
    ConfigRecords *records = (ConfigRecords *)calloc(1, sizeof(ConfigRecords));
    int rc = SETUP_FAILURE;
    if (records != NULL) {
        // Empty records: every key the file lacks gives 0 or the empty text.
        records->importing = TRUE;
        rc = ReadAllFromFile(records, full);
        if (rc == SETUP_SUCCESS)
            rc = WriteAllToRegistry(records);
        ReleaseAll(records);
        free(records);
    }
    free(full);
    return rc;
}
