// The page table and what the pages' records share: the number rule, the VLAN entry list,
// copies, and the walks that apply one operation to every page.
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <stdlib.h>
#include <wchar.h>

const SettingsPage g_settingsPages[SETTINGS_PAGE_COUNT] = {
    // General: registration, logon image, domain names, several-interfaces warning
    {IDS_TAB_GENERAL, IDD_PAGE_GENERAL, GeneralPageProc, GeneralReadRegistry,
     GeneralWriteRegistry, GeneralReadFile, GeneralWriteFile, GeneralRelease},
    // VLAN: logon and logoff servers, logoff servers by VLAN id
    {IDS_TAB_VLAN, IDD_PAGE_VLAN, VlanPageProc, VlanReadRegistry, VlanWriteRegistry,
     VlanReadFile, VlanWriteFile, VlanRelease},
    // DHCP: renewal and domain-controller search
    {IDS_TAB_DHCP, IDD_PAGE_DHCP, DhcpPageProc, DhcpReadRegistry, DhcpWriteRegistry,
     DhcpReadFile, DhcpWriteFile, DhcpRelease},
};

static BOOL IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

BOOL ParseConfigNumber(LPCWSTR text, LONG *value)
{
    *value = 0;
    if (text == NULL)
        return FALSE;
    while (IsBlank(*text))
        text++;
    BOOL negative = FALSE;
    if (*text == L'+' || *text == L'-')
        negative = *text++ == L'-';
    if (*text < L'0' || *text > L'9')
        return FALSE;
    // Accumulated as a magnitude up to 2^31 so that the smallest negative number fits.
    unsigned long long magnitude = 0;
    for (; *text >= L'0' && *text <= L'9'; text++) {
        magnitude = magnitude * 10 + (*text - L'0');
        if (magnitude > 2147483648ULL)
            return FALSE;
    }
    while (IsBlank(*text))
        text++;
    if (*text != L'\0' || (!negative && magnitude > 2147483647ULL))
        return FALSE;
    *value = negative ? (LONG)(0 - magnitude) : (LONG)magnitude;
    return TRUE;
}

BOOL AppendVlanEntry(VlanSettings *vlan, LONG vlanId, LPCWSTR address, DWORD port)
{
    VlanLogoffEntry *entry = (VlanLogoffEntry *)calloc(1, sizeof(VlanLogoffEntry));
    if (entry == NULL)
        return FALSE;
    entry->vlanId = vlanId;
    wcsncpy(entry->address, address, CONFIG_SERVER_CHARS - 1);
    entry->port = port;
    VlanLogoffEntry **tail = &vlan->entries;
    while (*tail != NULL)
        tail = &(*tail)->next;
    *tail = entry;
    return TRUE;
}

void FreeVlanEntries(VlanSettings *vlan)
{
    while (vlan->entries != NULL) {
        VlanLogoffEntry *next = vlan->entries->next;
        free(vlan->entries);
        vlan->entries = next;
    }
}

int CountDomainNames(const GeneralSettings *general)
{
    int count = 0;
    while (count < DOMAIN_LIST_MAX && general->domainNames[count][0] != L'\0')
        count++;
    return count;
}

BOOL CopyRecords(ConfigRecords *to, const ConfigRecords *from)
{
    *to = *from;
    to->vlan.entries = NULL;
    for (const VlanLogoffEntry *entry = from->vlan.entries; entry != NULL; entry = entry->next) {
        if (!AppendVlanEntry(&to->vlan, entry->vlanId, entry->address, entry->port)) {
            FreeVlanEntries(&to->vlan);
            return FALSE;
        }
    }
    return TRUE;
}

int ReadAllFromRegistry(ConfigRecords *records)
{
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        if (g_settingsPages[i].readRegistry(records) != SETUP_SUCCESS)
            return SETUP_FAILURE;
    }
    return SETUP_SUCCESS;
}

int WriteAllToRegistry(ConfigRecords *records)
{
    records->failureText = 0;
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        if (g_settingsPages[i].writeRegistry(records) != SETUP_SUCCESS) {
            if (records->failureText == 0)
                records->failureText = IDS_SAVE_FAILED;
            return SETUP_FAILURE;
        }
    }
    return SETUP_SUCCESS;
}

int ReadAllFromFile(ConfigRecords *records, LPCWSTR path)
{
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        if (g_settingsPages[i].readFile(records, path) != SETUP_SUCCESS)
            return SETUP_FAILURE;
    }
    return SETUP_SUCCESS;
}

int WriteAllToFile(const ConfigRecords *records, LPCWSTR path)
{
    if (!PrepareConfigFile(path))
        return SETUP_FAILURE;
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        if (g_settingsPages[i].writeFile(records, path) != SETUP_SUCCESS)
            return SETUP_FAILURE;
    }
    return SETUP_SUCCESS;
}

void ReleaseAll(ConfigRecords *records)
{
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++)
        g_settingsPages[i].release(records);
}
