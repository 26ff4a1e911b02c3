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

static int Refuse(ConfigRecords *records, UINT textId, LONG low, LONG high)
{
    records->failureText = textId;
    records->failureLow = low;
    records->failureHigh = high;
    return SETUP_FAILURE;
}

// A port of 0 is an empty field: the server is not configured.
static BOOL IsPort(DWORD port)
{
    return port == 0 || (port >= PORT_MIN && port <= PORT_MAX);
}

int CheckRecords(ConfigRecords *records)
{
    records->failureText = 0;
    const VlanSettings *vlan = &records->vlan;
    const DhcpSettings *dhcp = &records->dhcp;
    // Without its module the provider would be registered to a file that is not there.
    if (records->general.enabled && !records->providerInstalled && records->importing)
        return Refuse(records, IDS_PROVIDER_MISSING, 0, 0);
    WCHAR encoded[CONFIG_TEXT_CHARS];
    if (!EncodeConfigMessage(records->general.multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS))
        return Refuse(records, IDS_MESSAGE_TOO_LONG, 0, CONFIG_TEXT_CHARS - 1);
    if (!IsPort(vlan->logonPort))
        return Refuse(records, IDS_BAD_LOGON_PORT, PORT_MIN, PORT_MAX);
    if (!IsPort(vlan->logoffPort))
        return Refuse(records, IDS_BAD_LOGOFF_PORT, PORT_MIN, PORT_MAX);
    for (const VlanLogoffEntry *entry = vlan->entries; entry != NULL; entry = entry->next) {
        if (!IsPort(entry->port))
            return Refuse(records, IDS_BAD_VLAN_PORT, PORT_MIN, PORT_MAX);
    }
    if (dhcp->waitIpRenew > WAIT_SECONDS_MAX)
        return Refuse(records, IDS_BAD_WAIT_IP_RENEW, 0, WAIT_SECONDS_MAX);
    if (dhcp->waitFindDomain > WAIT_SECONDS_MAX)
        return Refuse(records, IDS_BAD_WAIT_FIND_DOMAIN, 0, WAIT_SECONDS_MAX);
    return SETUP_SUCCESS;
}

int WriteAllToRegistry(ConfigRecords *records)
{
    if (CheckRecords(records) != SETUP_SUCCESS)
        return SETUP_FAILURE;
    // Everything the pages may change is copied first, so that a failure on the way puts
    // back exactly what was there: no half-saved configuration, no system switched off.
    RegistryBackup *backup = BackupConfiguration(BACKUP_REGISTRATION | BACKUP_PRODUCT_KEY);
    if (backup == NULL)
        return Refuse(records, IDS_SAVE_FAILED, 0, 0);
    int rc = SETUP_SUCCESS;
    for (int i = 0; i < SETTINGS_PAGE_COUNT && rc == SETUP_SUCCESS; i++)
        rc = g_settingsPages[i].writeRegistry(records);
    if (rc != SETUP_SUCCESS) {
        RestoreConfiguration(backup);
        if (records->failureText == 0)
            records->failureText = IDS_SAVE_FAILED;
    }
    FreeBackup(backup);
    return rc;
}

int ReadAllFromFile(ConfigRecords *records, LPCWSTR path)
{
    records->failureText = 0;
    if (!IsConfigurationFile(path))
        return Refuse(records, IDS_NOT_A_CONFIGURATION, 0, 0);
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        if (g_settingsPages[i].readFile(records, path) != SETUP_SUCCESS)
            return Refuse(records, IDS_FILE_READ_FAILED, 0, 0);
    }
    return SETUP_SUCCESS;
}

int WriteAllToFile(const ConfigRecords *records, LPCWSTR path)
{
    WCHAR encoded[CONFIG_TEXT_CHARS];
    if (!EncodeConfigMessage(records->general.multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS))
        return SETUP_FAILURE;
    // The pages write into a copy; the file itself changes once, when the copy is whole.
    LPWSTR copy = BeginConfigFileCopy(path, !RecordsFitAnsi(records));
    if (copy == NULL)
        return SETUP_FAILURE;
    int rc = SETUP_SUCCESS;
    for (int i = 0; i < SETTINGS_PAGE_COUNT && rc == SETUP_SUCCESS; i++)
        rc = g_settingsPages[i].writeFile(records, copy);
    if (!EndConfigFileCopy(copy, path, rc == SETUP_SUCCESS))
        rc = SETUP_FAILURE;
    return rc;
}

void ReleaseAll(ConfigRecords *records)
{
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++)
        g_settingsPages[i].release(records);
}
