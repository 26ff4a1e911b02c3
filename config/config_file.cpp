// The configuration file: an INI-style profile file read and written through the
// platform's profile functions, one readFile/writeFile pair per page, and the copy of the
// file that a save writes into.
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

enum { NUMBER_TEXT_CHARS = 32 };

static BOOL IsProfileBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

// A number text by our rule; an invalid text is 0, but a run of digits too large for 32
// bits is the largest number, which every range check refuses: it was meant as a number.
static DWORD NumberFromText(LPCWSTR text)
{
    LONG number = 0;
    if (ParseConfigNumber(text, &number))
        return (DWORD)number;
    while (IsProfileBlank(*text))
        text++;
    if (*text == L'+' || *text == L'-')
        text++;
    if (*text < L'0' || *text > L'9')
        return 0;
    while (*text >= L'0' && *text <= L'9')
        text++;
    while (IsProfileBlank(*text))
        text++;
    return *text == L'\0' ? MAXDWORD : 0;
}

// A missing key leaves *value alone. FALSE for a text too long to be a number of ours,
// which refuses the file as an over-long text does.
static BOOL ReadProfileNumber(LPCWSTR section, LPCWSTR key, LPCWSTR path, DWORD *value)
{
    WCHAR text[NUMBER_TEXT_CHARS];
    ReadResult result = ReadProfileText(section, key, path, text, ARRAYSIZE(text));
    if (result == VALUE_TOO_LONG)
        return FALSE;
    if (result == VALUE_WAS_READ)
        *value = NumberFromText(text);
    return TRUE;
}

static BOOL ReadProfileSwitch(LPCWSTR section, LPCWSTR key, LPCWSTR path, int *value)
{
    DWORD number = (DWORD)*value;
    if (!ReadProfileNumber(section, key, path, &number))
        return FALSE;
    *value = number != 0;
    return TRUE;
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

// The profile functions' blanks, what they strip around names and values: the ASCII
// white space and the end-of-file mark, not the wider Unicode spaces.
static BOOL IsTrimmed(WCHAR c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1A;
}

// One read per section instead of one per key keeps a file of many GroupList sections
// quick. The lines may come with the blanks of the file around "=" (Windows lists a
// section as it stands), so they are trimmed here as a profile read trims them.
ReadResult FindSectionValue(LPCWSTR lines, LPCWSTR key, LPWSTR out, DWORD chars)
{
    size_t keyLength = wcslen(key);
    for (LPCWSTR line = lines; *line != L'\0'; line += wcslen(line) + 1) {
        LPCWSTR name = line;
        while (IsTrimmed(*name))
            name++;
        LPCWSTR equals = wcschr(name, L'=');
        LPCWSTR nameEnd = equals != NULL ? equals : name + wcslen(name);
        while (nameEnd > name && IsTrimmed(nameEnd[-1]))
            nameEnd--;
        if ((size_t)(nameEnd - name) != keyLength || _wcsnicmp(name, key, keyLength) != 0)
            continue;
        if (equals == NULL)
            return VALUE_IS_MISSING;  // a key without "=" reads as missing
        LPCWSTR value = equals + 1;
        while (IsTrimmed(*value))
            value++;
        size_t length = wcslen(value);
        while (length > 0 && IsTrimmed(value[length - 1]))
            length--;
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

// Section names are looked up without regard to case by the profile functions; reading
// and deleting GroupList sections does the same, or a save into a file holding
// [grouplist7] would write into that section and the next read would pass it over.
static BOOL IsGroupListSection(LPCWSTR name)
{
    return _wcsnicmp(name, SECTION_GROUP_LIST, GROUP_LIST_PREFIX_CHARS) == 0;
}

// The tool's sections and their keys; a GroupList section is any whose name begins so.
// GroupList entries alone do not make a configuration: imported on their own they would
// clear every server and switch Portgate off.
static LPCWSTR const GENERAL_KEYS[] = {KEY_ENABLE, VALUE_LOGON_IMAGE, VALUE_MULTI_INTERFACE_CHECK,
                                       VALUE_MULTI_INTERFACE_MESSAGE, NULL};
static LPCWSTR const DOMAIN_KEYS[] = {L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9",
                                      NULL};
static LPCWSTR const VLAN_KEYS[] = {VALUE_VLAN_LOGON_SERVER, VALUE_VLAN_LOGON_PORT,
                                    VALUE_VLAN_LOGOFF_SERVER, VALUE_VLAN_LOGOFF_PORT, NULL};
static LPCWSTR const GROUP_KEYS[] = {VALUE_VLAN_LOGOFF_SERVER, VALUE_VLAN_LOGOFF_PORT, NULL};
static LPCWSTR const DHCP_KEYS[] = {VALUE_ENABLE_DHCP, VALUE_NOT_FIND_DOMAIN, VALUE_WAIT_IP_RENEW,
                                    VALUE_WAIT_FIND_DOMAIN, NULL};
static const struct {
    LPCWSTR name;
    LPCWSTR const *keys;
} CONFIG_SECTIONS[] = {
    {SECTION_GENERAL, GENERAL_KEYS},
    {SECTION_DOMAIN_LIST, DOMAIN_KEYS},
    {SECTION_VLAN, VLAN_KEYS},
    {SECTION_GROUP_LIST, GROUP_KEYS},
    {SECTION_DHCP, DHCP_KEYS},
};

static LPCWSTR const *KeysOfSection(LPCWSTR name)
{
    if (IsGroupListSection(name))
        return GROUP_KEYS;
    for (size_t i = 0; i < ARRAYSIZE(CONFIG_SECTIONS); i++) {
        if (_wcsicmp(name, CONFIG_SECTIONS[i].name) == 0)
            return CONFIG_SECTIONS[i].keys;
    }
    return NULL;
}

BOOL IsConfigurationFile(LPCWSTR path)
{
    LPWSTR sections = ReadSectionNames(path);
    if (sections == NULL)
        return FALSE;
    BOOL found = FALSE;
    for (LPCWSTR name = sections; *name != L'\0' && !found; name += wcslen(name) + 1) {
        LPCWSTR const *keys = IsGroupListSection(name) ? NULL : KeysOfSection(name);
        LPWSTR lines = keys != NULL ? ReadProfileList(name, path) : NULL;
        for (; lines != NULL && *keys != NULL && !found; keys++) {
            WCHAR value[2];
            found = FindSectionValue(lines, *keys, value, ARRAYSIZE(value)) != VALUE_IS_MISSING;
        }
        free(lines);
    }
    free(sections);
    return found;
}

// ---- the file copy that a save writes into

static BOOL FitsAnsi(LPCWSTR text)
{
    char bytes[CONFIG_TEXT_CHARS * 4];
    WCHAR back[CONFIG_TEXT_CHARS];
    BOOL usedDefault = FALSE;
    int got = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, bytes, sizeof(bytes),
                                  NULL, &usedDefault);
    if (got <= 0 || usedDefault)
        return FALSE;
    return MultiByteToWideChar(CP_ACP, 0, bytes, got, back, ARRAYSIZE(back)) > 0 &&
           wcscmp(back, text) == 0;
}

BOOL RecordsFitAnsi(const ConfigRecords *records)
{
    const GeneralSettings *general = &records->general;
    BOOL fits = FitsAnsi(general->logonImage) && FitsAnsi(general->multiInterfaceMessage) &&
                FitsAnsi(records->vlan.logonServer) && FitsAnsi(records->vlan.logoffServer);
    for (int slot = 0; fits && slot < DOMAIN_LIST_MAX; slot++)
        fits = FitsAnsi(general->domainNames[slot]);
    for (const VlanLogoffEntry *entry = records->vlan.entries; fits && entry != NULL;
         entry = entry->next)
        fits = FitsAnsi(entry->address);
    return fits;
}

// Larger than any configuration; a file beyond it is not read into memory.
enum { CONFIG_FILE_MAX_BYTES = 64 << 20 };

// The whole file, or an empty block when it does not exist (free it). FALSE when it
// cannot be read.
static BOOL ReadWholeFile(LPCWSTR path, BYTE **data, DWORD *bytes)
{
    *data = NULL;
    *bytes = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    LARGE_INTEGER size;
    BOOL ok = GetFileSizeEx(file, &size) && size.QuadPart <= CONFIG_FILE_MAX_BYTES;
    if (ok) {
        *data = (BYTE *)malloc((size_t)size.QuadPart + 1);
        ok = *data != NULL && ReadFile(file, *data, (DWORD)size.QuadPart, bytes, NULL) &&
             *bytes == (DWORD)size.QuadPart;
    }
    CloseHandle(file);
    if (!ok) {
        free(*data);
        *data = NULL;
    }
    return ok;
}

static BOOL HasByteOrderMark(const BYTE *data, DWORD bytes)
{
    return (bytes >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) ||
           (bytes >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF);
}

static BOOL WriteWholeFile(LPCWSTR path, const void *data, DWORD bytes, const void *more,
                           DWORD moreBytes)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0, moreWritten = 0;
    BOOL ok = WriteFile(file, data, bytes, &written, NULL) && written == bytes &&
              (moreBytes == 0 || (WriteFile(file, more, moreBytes, &moreWritten, NULL) &&
                                  moreWritten == moreBytes));
    return CloseHandle(file) && ok;
}

LPWSTR BeginConfigFileCopy(LPCWSTR path, BOOL toUnicode)
{
    static const BYTE UTF16_BOM[2] = {0xFF, 0xFE};
    WCHAR folder[MAX_PATH];
    LPWSTR fileName = NULL;
    DWORD got = GetFullPathNameW(path, MAX_PATH, folder, &fileName);
    if (got == 0 || got >= MAX_PATH || fileName == NULL)
        return NULL;
    *fileName = L'\0';
    LPWSTR copy = (LPWSTR)calloc(MAX_PATH, sizeof(WCHAR));
    if (copy == NULL || GetTempFileNameW(folder, L"pgc", 0, copy) == 0) {
        free(copy);
        return NULL;
    }
    BYTE *data;
    DWORD bytes;
    BOOL ok = ReadWholeFile(path, &data, &bytes);
    if (ok && bytes == 0) {
        ok = WriteWholeFile(copy, UTF16_BOM, sizeof(UTF16_BOM), NULL, 0);
    } else if (ok && toUnicode && !HasByteOrderMark(data, bytes)) {
        // The file's ANSI text as UTF-16, so that every character, old and new, stays.
        int chars = MultiByteToWideChar(CP_ACP, 0, (LPCSTR)data, (int)bytes, NULL, 0);
        LPWSTR text = chars > 0 ? (LPWSTR)malloc(chars * sizeof(WCHAR)) : NULL;
        ok = text != NULL &&
             MultiByteToWideChar(CP_ACP, 0, (LPCSTR)data, (int)bytes, text, chars) == chars &&
             WriteWholeFile(copy, UTF16_BOM, sizeof(UTF16_BOM), text, chars * sizeof(WCHAR));
        free(text);
    } else if (ok) {
        ok = WriteWholeFile(copy, data, bytes, NULL, 0);
    }
    free(data);
    if (!ok) {
        DeleteFileW(copy);
        free(copy);
        return NULL;
    }
    return copy;
}

BOOL EndConfigFileCopy(LPWSTR copy, LPCWSTR path, BOOL keep)
{
    if (copy == NULL)
        return FALSE;
    BOOL replaced = FALSE;
    if (keep) {
        // An existing file keeps its security and attributes.
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            replaced = ReplaceFileW(path, copy, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL);
        else
            replaced = MoveFileExW(copy, path, MOVEFILE_WRITE_THROUGH);
    }
    if (!replaced)
        DeleteFileW(copy);
    free(copy);
    return replaced;
}

// ---- General

int GeneralReadFile(ConfigRecords *records, LPCWSTR path)
{
    GeneralSettings *general = &records->general;
    if (!ReadProfileSwitch(SECTION_GENERAL, KEY_ENABLE, path, &general->enabled) ||
        !ReadProfileSwitch(SECTION_GENERAL, VALUE_MULTI_INTERFACE_CHECK, path,
                           &general->multiInterfaceCheck) ||
        ReadProfileText(SECTION_GENERAL, VALUE_LOGON_IMAGE, path, general->logonImage,
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
    if (!ReadProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGON_PORT, path, &vlan->logonPort) ||
        !ReadProfileNumber(SECTION_VLAN, VALUE_VLAN_LOGOFF_PORT, path, &vlan->logoffPort))
        return SETUP_FAILURE;

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
        WCHAR portText[NUMBER_TEXT_CHARS] = L"";
        LPWSTR lines = ReadProfileList(name, path);
        if (lines == NULL ||
            FindSectionValue(lines, VALUE_VLAN_LOGOFF_SERVER, address, CONFIG_SERVER_CHARS) ==
                VALUE_TOO_LONG ||
            FindSectionValue(lines, VALUE_VLAN_LOGOFF_PORT, portText, ARRAYSIZE(portText)) ==
                VALUE_TOO_LONG)
            rc = SETUP_FAILURE;
        free(lines);
        if (rc == SETUP_SUCCESS &&
            !AppendVlanEntry(vlan, ParseVlanId(name + GROUP_LIST_PREFIX_CHARS), address,
                             NumberFromText(portText)))
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
    if (!ReadProfileNumber(SECTION_DHCP, VALUE_ENABLE_DHCP, path, &dhcp->enableDhcp) ||
        !ReadProfileNumber(SECTION_DHCP, VALUE_NOT_FIND_DOMAIN, path, &dhcp->notFindDomain) ||
        !ReadProfileNumber(SECTION_DHCP, VALUE_WAIT_IP_RENEW, path, &dhcp->waitIpRenew) ||
        !ReadProfileNumber(SECTION_DHCP, VALUE_WAIT_FIND_DOMAIN, path, &dhcp->waitFindDomain))
        return SETUP_FAILURE;
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
