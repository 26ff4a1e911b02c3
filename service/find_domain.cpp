// "finddomain": probes for a domain controller of the workstation's primary domain at
// once and then every five seconds, until one answers or 120 seconds have passed.
#include "wardhost.h"
#include "net_platform.h"
#include "operation_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "wardhost_res.h"

#include <stdlib.h>

static const UINT_PTR FINDDOMAIN_TIMER_ID = 40000;

// One search window's state, in its user data from WM_INITDIALOG to WM_DESTROY.
struct DomainSearch {
    ULONGLONG start;  // NetCalls().tickCount() when the window opened
};

static DomainSearch *SearchOf(HWND window)
{
    return static_cast<DomainSearch *>(OperationContextOf(window));
}

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
    SearchOf(window)->start = NetCalls().tickCount();
    SetTimer(window, FINDDOMAIN_TIMER_ID, TimeLimits().searchFirstProbeMs, /*timerProc*/ NULL);
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
        ULONGLONG elapsed = NetCalls().tickCount() - SearchOf(window)->start;
        if (notFindDomain != 0) {
            EndDialog(window, OPERATION_SUCCESS);
        } else if (elapsed >= TimeLimits().searchBudgetMs) {
            LoadResultMessage(IDS_DC_NOT_FOUND);
            EndDialog(window, OPERATION_FAILURE);
        } else if (FindDomainController()) {
            EndDialog(window, OPERATION_SUCCESS);
        } else {
            SetTimer(window, FINDDOMAIN_TIMER_ID, TimeLimits().searchNextProbeMs, NULL);
        }
    }
    LogPrint("FindDomainDlgOnTimer() --- end ---");
}

INT_PTR CALLBACK FindDomainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    DomainSearch *search = SearchOf(window);
    switch (message) {
    case WM_INITDIALOG:
        search = static_cast<DomainSearch *>(AttachOperationContext(window, sizeof(DomainSearch)));
        if (search == NULL)
            return FALSE;
        FindDomainDlgInit(window);
        return FALSE;
    case WM_TIMER:
        if (search != NULL)
            FindDomainDlgOnTimer(window, wParam);
        return TRUE;
    case WM_DESTROY:
        DetachOperationContext(window);
        return FALSE;
    }
    return FALSE;
}
