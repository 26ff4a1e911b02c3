// What the pages' records share: the number rule, the VLAN entry list, copies, and the
// check that the records can be saved as they stand.
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <stdlib.h>
#include <wchar.h>

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

int RecordFailure(ConfigRecords *records, UINT textId, LONG low, LONG high)
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
        return RecordFailure(records, IDS_PROVIDER_MISSING, 0, 0);
    WCHAR encoded[CONFIG_TEXT_CHARS];
    if (!EncodeConfigMessage(records->general.multiInterfaceMessage, encoded, CONFIG_TEXT_CHARS))
        return RecordFailure(records, IDS_MESSAGE_TOO_LONG, 0, CONFIG_TEXT_CHARS - 1);
    if (!IsPort(vlan->logonPort))
        return RecordFailure(records, IDS_BAD_LOGON_PORT, PORT_MIN, PORT_MAX);
    if (!IsPort(vlan->logoffPort))
        return RecordFailure(records, IDS_BAD_LOGOFF_PORT, PORT_MIN, PORT_MAX);
    for (const VlanLogoffEntry *entry = vlan->entries; entry != NULL; entry = entry->next) {
        if (!IsPort(entry->port))
            return RecordFailure(records, IDS_BAD_VLAN_PORT, PORT_MIN, PORT_MAX);
    }
    if (dhcp->waitIpRenew > WAIT_SECONDS_MAX)
        return RecordFailure(records, IDS_BAD_WAIT_IP_RENEW, 0, WAIT_SECONDS_MAX);
    if (dhcp->waitFindDomain > WAIT_SECONDS_MAX)
        return RecordFailure(records, IDS_BAD_WAIT_FIND_DOMAIN, 0, WAIT_SECONDS_MAX);
    return SETUP_SUCCESS;
}
