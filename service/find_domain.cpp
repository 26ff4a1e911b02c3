// "finddomain": probes for a domain controller of the workstation's primary domain at
// once and then every five seconds, until one answers or 120 seconds have passed.
#include "wardhost.h"
#include "net_platform.h"
#include "../config/product_key.h"
#include "../resources/wardhost_res.h"

static const UINT_PTR FINDDOMAIN_TIMER_ID = 40000;
static const UINT FINDDOMAIN_FIRST_PROBE_MS = 0;  // the platform's minimum interval
static const UINT FINDDOMAIN_NEXT_PROBE_MS = 5000;
static const ULONGLONG FINDDOMAIN_BUDGET_MS = 120000;

// Set when a search window opens; only one operation window exists at a time.
static ULONGLONG g_searchStart;

bool FindDomainController()
{
    LPBYTE buffer = NULL;
    DWORD entriesRead = 0, totalEntries = 0, resumeHandle = 0;
    NET_API_STATUS status = NetCalls().netServerEnum(
        /*serverName*/ NULL, /*level*/ 101, &buffer, MAX_PREFERRED_LENGTH, &entriesRead,
        &totalEntries, SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL,
        /*domain: the primary one*/ NULL, &resumeHandle);
    // A partial list still proves that a controller answered.
    bool found = (status == NERR_Success || status == ERROR_MORE_DATA) && buffer != NULL;
    if (buffer != NULL)
        NetCalls().netApiBufferFree(buffer);
    return found;
}

static void FindDomainDlgInit(HWND window)
{
    LogPrint("FindDomainDlgInit() --- start ---");
    SetOperationText(window, IDS_SEARCHING_DC);
    g_searchStart = NetCalls().tickCount();
    SetTimer(window, FINDDOMAIN_TIMER_ID, FINDDOMAIN_FIRST_PROBE_MS, /*timerProc*/ NULL);
    LogPrint("FindDomainDlgInit() --- end ---");
}

// The budget is checked before each probe, so none starts once it is spent; a probe
// that blocks only delays the next check.
static void FindDomainDlgOnTimer(HWND window, UINT_PTR timerId)
{
    LogPrint("FindDomainDlgOnTimer() --- start ---");
    if (timerId == FINDDOMAIN_TIMER_ID) {
        KillTimer(window, FINDDOMAIN_TIMER_ID);
        DWORD notFindDomain;
        ReadConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, &notFindDomain);
        ULONGLONG elapsed = NetCalls().tickCount() - g_searchStart;
        if (notFindDomain != 0) {
            EndDialog(window, OPERATION_SUCCESS);
        } else if (elapsed >= FINDDOMAIN_BUDGET_MS) {
            LoadResultMessage(IDS_DC_NOT_FOUND);
            EndDialog(window, OPERATION_FAILURE);
        } else if (FindDomainController()) {
            EndDialog(window, OPERATION_SUCCESS);
        } else {
            SetTimer(window, FINDDOMAIN_TIMER_ID, FINDDOMAIN_NEXT_PROBE_MS, NULL);
        }
    }
    LogPrint("FindDomainDlgOnTimer() --- end ---");
}

INT_PTR CALLBACK FindDomainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        FindDomainDlgInit(window);
        return FALSE;
    case WM_TIMER:
        FindDomainDlgOnTimer(window, wParam);
        return TRUE;
    }
    return FALSE;
}
