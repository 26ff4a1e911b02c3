// The pages' records read from and written to the product key. Lists are written new
// entries first and stale ones deleted after, so a reader never finds them empty. What to
// do when a write fails is the caller's (WriteAllToRegistry puts everything back).
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <stdio.h>
#include <wchar.h>

static const WCHAR GROUP_LIST_PATH[] = PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST;
static const WCHAR DOMAIN_LIST_PATH[] = PRODUCT_KEY_PATH L"\\" SUBKEY_DOMAIN_LIST;

// Registry names are at most 255 characters (values 16383).
enum { KEY_NAME_CHARS = 256, VALUE_NAME_CHARS = 16384 };

static BOOL WriteText(LPCWSTR subkey, LPCWSTR name, LPCWSTR text)
{
    return WriteConfigString(subkey, name, text, TRUE, TRUE) == ERROR_SUCCESS;
}

static BOOL WriteNumber(LPCWSTR subkey, LPCWSTR name, DWORD value)
{
    return WriteConfigDword(subkey, name, value, TRUE) == ERROR_SUCCESS;
}

// ---- General

int GeneralReadRegistry(ConfigRecords *records)
{
    GeneralSettings *general = &records->general;
    ZeroMemory(general, sizeof(*general));
    general->enabled = QueryRegistration();
    // A registration whose provider file is gone would leave the logon screen with a class
    // it cannot load.
    if (general->enabled && !records->providerInstalled && !records->importing &&
        UnregisterComponents() == SETUP_SUCCESS)
        general->enabled = 0;
    ReadConfigString(NULL, VALUE_LOGON_IMAGE, general->logonImage, CONFIG_TEXT_CHARS);
    DWORD check = 0;
    ReadConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, &check);
    general->multiInterfaceCheck = check != 0;
    WCHAR stored[CONFIG_TEXT_CHARS];
    ReadConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, stored, CONFIG_TEXT_CHARS);
    DecodeConfigMessage(stored, L"\r\n", general->multiInterfaceMessage, CONFIG_TEXT_CHARS);
    ReadDomainList(general->domainNames);
    return SETUP_SUCCESS;
}

// Whether name is one of the first count names, letter case ignored as the registry does.
static BOOL IsListedName(LPCWSTR name, WCHAR (*names)[CONFIG_TEXT_CHARS], int count)
{
    for (int i = 0; i < count; i++) {
        if (_wcsicmp(name, names[i]) == 0)
            return TRUE;
    }
    return FALSE;
}

static BOOL WriteDomainList(const GeneralSettings *general)
{
    WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS];
    int count = 0;
    for (int slot = 0; slot < DOMAIN_LIST_MAX && general->domainNames[slot][0] != L'\0'; slot++) {
        wcscpy(names[count], general->domainNames[slot]);
        CharUpperW(names[count]);
        count++;
    }
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, DOMAIN_LIST_PATH, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    BOOL ok = TRUE;
    for (int i = 0; ok && i < count; i++) {
        // Overwriting a value keeps the letter case of its old name: a name the service
        // wrote in lower case is replaced, not overwritten.
        WCHAR found[VALUE_NAME_CHARS];
        for (DWORD index = 0;; index++) {
            DWORD chars = ARRAYSIZE(found);
            if (RegEnumValueW(key, index, found, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            if (_wcsicmp(found, names[i]) == 0 && wcscmp(found, names[i]) != 0) {
                RegDeleteValueW(key, found);
                break;
            }
        }
        ok = RegSetValueExW(key, names[i], 0, REG_SZ, (const BYTE *)L"", sizeof(WCHAR)) ==
             ERROR_SUCCESS;
    }
    // Then the names no longer listed; the index stays where a value was deleted.
    DWORD index = 0;
    while (ok) {
        WCHAR found[VALUE_NAME_CHARS];
        DWORD chars = ARRAYSIZE(found);
        LONG rc = RegEnumValueW(key, index, found, &chars, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            ok = FALSE;
        else if (IsListedName(found, names, count))
            index++;
        else
            ok = RegDeleteValueW(key, found) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

int GeneralWriteRegistry(ConfigRecords *records)
{
    const GeneralSettings *general = &records->general;
    // Without its module the provider is never registered: the page's box could not be
    // changed then, and an import that asks for it was refused before the first write.
    int registered = SETUP_SUCCESS;
    if (!general->enabled)
        registered = UnregisterComponents();
    else if (records->providerInstalled)
        registered = RegisterComponents();
    if (registered != SETUP_SUCCESS) {
        records->failureText = IDS_REGISTRATION_FAILED;
        return SETUP_FAILURE;
    }
    WCHAR encoded[CONFIG_TEXT_CHARS];
    BOOL ok = WriteText(NULL, VALUE_LOGON_IMAGE, general->logonImage) &&
              WriteNumber(NULL, VALUE_MULTI_INTERFACE_CHECK, general->multiInterfaceCheck != 0) &&
              EncodeConfigMessage(general->multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS) &&
              WriteText(NULL, VALUE_MULTI_INTERFACE_MESSAGE, encoded) &&
              WriteDomainList(general);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

void GeneralRelease(ConfigRecords *records)
{
    ZeroMemory(records->general.domainNames, sizeof(records->general.domainNames));
}

// ---- VLAN

int VlanReadRegistry(ConfigRecords *records)
{
    VlanSettings *vlan = &records->vlan;
    FreeVlanEntries(vlan);
    ZeroMemory(vlan, sizeof(*vlan));
    ReadConfigString(NULL, VALUE_VLAN_LOGON_SERVER, vlan->logonServer, CONFIG_SERVER_CHARS);
    ReadConfigDword(NULL, VALUE_VLAN_LOGON_PORT, &vlan->logonPort);
    ReadConfigString(NULL, VALUE_VLAN_LOGOFF_SERVER, vlan->logoffServer, CONFIG_SERVER_CHARS);
    ReadConfigDword(NULL, VALUE_VLAN_LOGOFF_PORT, &vlan->logoffPort);

    HKEY groups;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, GROUP_LIST_PATH, 0, KEY_READ, &groups) != ERROR_SUCCESS)
        return SETUP_SUCCESS;
    for (DWORD index = 0;; index++) {
        WCHAR name[KEY_NAME_CHARS];
        DWORD chars = ARRAYSIZE(name);
        if (RegEnumKeyExW(groups, index, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY group;
        if (RegOpenKeyExW(groups, name, 0, KEY_READ, &group) != ERROR_SUCCESS)
            continue;
        RegCloseKey(group);
        WCHAR subkey[KEY_NAME_CHARS + 16];
        swprintf(subkey, ARRAYSIZE(subkey), SUBKEY_GROUP_LIST L"\\%ls", name);
        WCHAR address[CONFIG_SERVER_CHARS];
        DWORD port = 0;
        ReadConfigString(subkey, VALUE_VLAN_LOGOFF_SERVER, address, CONFIG_SERVER_CHARS);
        ReadConfigDword(subkey, VALUE_VLAN_LOGOFF_PORT, &port);
        AppendVlanEntry(vlan, ParseVlanId(name), address, port);
    }
    RegCloseKey(groups);
    return SETUP_SUCCESS;
}

// Whether a GroupList subkey name is the one an entry writes: its VLAN id in decimal.
static BOOL IsListedVlan(LPCWSTR name, const VlanLogoffEntry *entries)
{
    LONG id = ParseVlanId(name);
    WCHAR canonical[16];
    swprintf(canonical, ARRAYSIZE(canonical), L"%ld", id);
    if (wcscmp(canonical, name) != 0)
        return FALSE;
    for (; entries != NULL; entries = entries->next) {
        if (entries->vlanId == id)
            return TRUE;
    }
    return FALSE;
}

static DWORD CountDistinctVlanIds(const VlanLogoffEntry *entries)
{
    DWORD count = 0;
    for (const VlanLogoffEntry *entry = entries; entry != NULL; entry = entry->next) {
        const VlanLogoffEntry *earlier = entries;
        while (earlier != entry && earlier->vlanId != entry->vlanId)
            earlier = earlier->next;
        if (earlier == entry)
            count++;
    }
    return count;
}

static BOOL WriteGroupList(const VlanSettings *vlan)
{
    HKEY groups;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, GROUP_LIST_PATH, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &groups, NULL) != ERROR_SUCCESS)
        return FALSE;
    BOOL ok = TRUE;
    // In list order: two entries of one VLAN id leave the later one's values.
    for (const VlanLogoffEntry *entry = vlan->entries; ok && entry != NULL; entry = entry->next) {
        WCHAR id[16];
        swprintf(id, ARRAYSIZE(id), L"%ld", entry->vlanId);
        HKEY group;
        ok = RegCreateKeyExW(groups, id, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                             &group, NULL) == ERROR_SUCCESS;
        if (!ok)
            break;
        ok = RegSetValueExW(group, VALUE_VLAN_LOGOFF_SERVER, 0, REG_SZ,
                            (const BYTE *)entry->address,
                            (DWORD)((wcslen(entry->address) + 1) * sizeof(WCHAR))) ==
                 ERROR_SUCCESS &&
             RegSetValueExW(group, VALUE_VLAN_LOGOFF_PORT, 0, REG_DWORD,
                            (const BYTE *)&entry->port, sizeof(entry->port)) == ERROR_SUCCESS;
        RegCloseKey(group);
    }
    // Every id just written has its subkey: when there are no more subkeys than distinct
    // ids, none is stale and the walk over them is saved.
    DWORD subkeys = 0;
    BOOL mayHaveStale = !ok || RegQueryInfoKeyW(groups, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL,
                                                NULL, NULL, NULL, NULL) != ERROR_SUCCESS ||
                        subkeys > CountDistinctVlanIds(vlan->entries);
    DWORD index = 0;
    while (ok && mayHaveStale) {
        WCHAR name[KEY_NAME_CHARS];
        DWORD chars = ARRAYSIZE(name);
        LONG rc = RegEnumKeyExW(groups, index, name, &chars, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            ok = FALSE;
        else if (IsListedVlan(name, vlan->entries))
            index++;
        else
            ok = RegDeleteTreeW(groups, name) == ERROR_SUCCESS;  // the subkey itself too
    }
    RegCloseKey(groups);
    return ok;
}

int VlanWriteRegistry(ConfigRecords *records)
{
    const VlanSettings *vlan = &records->vlan;
    BOOL ok = WriteText(NULL, VALUE_VLAN_LOGON_SERVER, vlan->logonServer) &&
              WriteNumber(NULL, VALUE_VLAN_LOGON_PORT, vlan->logonPort) &&
              WriteText(NULL, VALUE_VLAN_LOGOFF_SERVER, vlan->logoffServer) &&
              WriteNumber(NULL, VALUE_VLAN_LOGOFF_PORT, vlan->logoffPort) &&
              WriteGroupList(vlan);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

void VlanRelease(ConfigRecords *records)
{
    FreeVlanEntries(&records->vlan);
}

// ---- DHCP

int DhcpReadRegistry(ConfigRecords *records)
{
    DhcpSettings *dhcp = &records->dhcp;
    ZeroMemory(dhcp, sizeof(*dhcp));
    ReadConfigDword(NULL, VALUE_ENABLE_DHCP, &dhcp->enableDhcp);
    ReadConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, &dhcp->notFindDomain);
    ReadConfigDword(NULL, VALUE_WAIT_IP_RENEW, &dhcp->waitIpRenew);
    ReadConfigDword(NULL, VALUE_WAIT_FIND_DOMAIN, &dhcp->waitFindDomain);
    dhcp->enableDhcp = dhcp->enableDhcp != 0;
    dhcp->notFindDomain = dhcp->notFindDomain != 0;
    return SETUP_SUCCESS;
}

int DhcpWriteRegistry(ConfigRecords *records)
{
    const DhcpSettings *dhcp = &records->dhcp;
    BOOL ok = WriteNumber(NULL, VALUE_ENABLE_DHCP, dhcp->enableDhcp != 0) &&
              WriteNumber(NULL, VALUE_NOT_FIND_DOMAIN, dhcp->notFindDomain != 0) &&
              WriteNumber(NULL, VALUE_WAIT_IP_RENEW, dhcp->waitIpRenew) &&
              WriteNumber(NULL, VALUE_WAIT_FIND_DOMAIN, dhcp->waitFindDomain);
    return ok ? SETUP_SUCCESS : SETUP_FAILURE;
}

void DhcpRelease(ConfigRecords *)
{
}
