// "iprenew": four seconds after its window opens, releases the DHCP lease of every
// adapter and then renews every one, so that the workstation gets an address in the
// VLAN it has just been moved to.
#include "wardhost.h"
#include "net_platform.h"
#include "operation_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "wardhost_res.h"

#include <stddef.h>

static const UINT_PTR IPRENEW_TIMER_ID = 30000;

// An adapter without a lease to act on answers ERROR_FILE_NOT_FOUND; that is no failure.
static BOOL IsLeaseCallDone(DWORD result)
{
    return result == NO_ERROR || result == ERROR_FILE_NOT_FOUND;
}

// Fetches the interface table into a heap block the caller frees with HeapFree. On
// failure nothing is held and the platform's error is returned.
static DWORD FetchInterfaceTable(PIP_INTERFACE_INFO *table, LONG *adapters)
{
    *table = NULL;
    *adapters = 0;
    ULONG size = 0;
    DWORD rc = NetCalls().getInterfaceInfo(/*table*/ NULL, &size);
    if (rc != ERROR_INSUFFICIENT_BUFFER) {
        // No table could be sized (ERROR_NO_DATA: no adapters at all), so there is
        // nothing to fetch or walk.
        return rc != NO_ERROR ? rc : ERROR_NO_DATA;
    }
    // At least the fixed part, so that the count can always be read.
    ULONG blockSize = size > sizeof(IP_INTERFACE_INFO) ? size : sizeof(IP_INTERFACE_INFO);
    PIP_INTERFACE_INFO block = static_cast<PIP_INTERFACE_INFO>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, blockSize));
    if (block == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    ULONG fetchSize = blockSize;
    rc = NetCalls().getInterfaceInfo(block, &fetchSize);
    if (rc != NO_ERROR) {
        HeapFree(GetProcessHeap(), 0, block);
        return rc;
    }
    // The count is believed only as far as the block holds entries.
    LONG fits = static_cast<LONG>((blockSize - offsetof(IP_INTERFACE_INFO, Adapter)) /
                                  sizeof(IP_ADAPTER_INDEX_MAP));
    LONG count = block->NumAdapters;
    *adapters = count < 0 ? 0 : (count > fits ? fits : count);
    *table = block;
    return NO_ERROR;
}

DWORD RenewAllAdapters()
{
    PIP_INTERFACE_INFO table;
    LONG adapters;
    DWORD rc = FetchInterfaceTable(&table, &adapters);
    if (rc != NO_ERROR)
        return rc;
    // Every lease is released before any is renewed. A failed release stops everything;
    // the adapters released before it stay released.
    for (LONG i = 0; i < adapters && rc == NO_ERROR; i++) {
        DWORD result = NetCalls().ipReleaseAddress(&table->Adapter[i]);
        if (!IsLeaseCallDone(result))
            rc = result;
    }
    for (LONG i = 0; i < adapters && rc == NO_ERROR; i++) {
        DWORD result = NetCalls().ipRenewAddress(&table->Adapter[i]);
        if (!IsLeaseCallDone(result))
            rc = result;
    }
    HeapFree(GetProcessHeap(), 0, table);
    return rc;
}

static void IpRenewDlgInit(HWND window)
{
    LogPrint("IpRenewDlgInit() --- start ---");
    SetOperationText(window, IDS_REQUESTING_ADDRESS);
    SetTimer(window, IPRENEW_TIMER_ID, TimeLimits().renewDelayMs, /*timerProc*/ NULL);
    LogPrint("IpRenewDlgInit() --- end ---");
}

static void IpRenewDlgOnTimer(HWND window, UINT_PTR timerId)
{
    LogPrint("IpRenewDlgOnTimer() --- start ---");
    LogPrint("  nTimerID = %d", static_cast<int>(timerId));
    if (timerId == IPRENEW_TIMER_ID) {
        // Read at every request: a saved change applies without a restart. Ending the
        // window removes the timer, so it fires only once.
        DWORD enableDhcp;
        ReadConfigDword(NULL, VALUE_ENABLE_DHCP, &enableDhcp);
        if (enableDhcp != 0 && RenewAllAdapters() != NO_ERROR) {
            LoadResultMessage(IDS_DHCP_ERROR);
            EndDialog(window, OPERATION_FAILURE);
        } else {
            EndDialog(window, OPERATION_SUCCESS);
        }
    }
    LogPrint("IpRenewDlgOnTimer() --- end ---");
}

// Cancel does nothing: the renewal can't be interrupted once the calls run.
INT_PTR CALLBACK IpRenewDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        IpRenewDlgInit(window);
        return FALSE;
    case WM_TIMER:
        IpRenewDlgOnTimer(window, wParam);
        return TRUE;
    }
    return FALSE;
}
