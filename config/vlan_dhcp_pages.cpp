// The VLAN page (logon and logoff servers, logoff servers by VLAN id, with their entry
// dialog) and the DHCP page (renewal and domain-controller search).
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { NUMBER_TEXT_CHARS = 64 };

static ConfigRecords *PageRecords(HWND page)
{
    return (ConfigRecords *)GetWindowLongPtrW(page, GWLP_USERDATA);
}

// ---- "Logoff server by VLAN ID" dialog: edits the VlanLogoffEntry passed as parameter

static INT_PTR CALLBACK VlanEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const VlanLogoffEntry *entry = (const VlanLogoffEntry *)lParam;
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        SendDlgItemMessageW(dialog, IDC_VLAN_ID, EM_LIMITTEXT, 5, 0);
        SendDlgItemMessageW(dialog, IDC_LOGOFF_SERVER, EM_LIMITTEXT, CONFIG_SERVER_CHARS - 1, 0);
        SendDlgItemMessageW(dialog, IDC_LOGOFF_PORT, EM_LIMITTEXT, 5, 0);
        SetDlgItemNumber(dialog, IDC_VLAN_ID, entry->vlanId, TRUE);
        SetDlgItemTextW(dialog, IDC_LOGOFF_SERVER, entry->address);
        SetDlgItemNumber(dialog, IDC_LOGOFF_PORT, (LONG)entry->port, FALSE);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            VlanLogoffEntry *entry = (VlanLogoffEntry *)GetWindowLongPtrW(dialog, GWLP_USERDATA);
            entry->vlanId = GetDlgItemNumber(dialog, IDC_VLAN_ID);
            GetDlgItemTextW(dialog, IDC_LOGOFF_SERVER, entry->address, CONFIG_SERVER_CHARS);
            entry->port = GetDlgItemField(dialog, IDC_LOGOFF_PORT);
            EndDialog(dialog, SETUP_SUCCESS);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, SETUP_FAILURE);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- VLAN page

// Inserts a row; the list places it by its VLAN id text. Returns its index or -1.
static int InsertVlanRow(HWND list, LONG vlanId, LPCWSTR address, DWORD port)
{
    WCHAR id[16];
    swprintf(id, ARRAYSIZE(id), L"%ld", vlanId);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = 0x7fffffff;
    item.pszText = id;
    int index = (int)SendMessageW(list, LVM_INSERTITEMW, 0, (LPARAM)&item);
    if (index < 0)
        return -1;
    WCHAR portText[16];
    swprintf(portText, ARRAYSIZE(portText), L"%lu", port);
    ListView_SetItemText(list, index, 1, (LPWSTR)address);
    ListView_SetItemText(list, index, 2, portText);
    return index;
}

static void SelectVlanRow(HWND list, int index)
{
    if (index < 0)
        return;
    ListView_SetItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, index, FALSE);
}

static void UpdateVlanButtons(HWND page)
{
    BOOL any = ListView_GetItemCount(GetDlgItem(page, IDC_VLAN_LIST)) > 0;
    EnableWindow(GetDlgItem(page, IDC_UPDATE), any);
    EnableWindow(GetDlgItem(page, IDC_DELETE), any);
}

static void ReadVlanRow(HWND list, int index, VlanLogoffEntry *entry)
{
    WCHAR text[NUMBER_TEXT_CHARS] = L"";
    LONG number = 0;
    ListView_GetItemText(list, index, 0, text, ARRAYSIZE(text));
    ParseConfigNumber(text, &entry->vlanId);
    entry->address[0] = L'\0';
    ListView_GetItemText(list, index, 1, entry->address, CONFIG_SERVER_CHARS);
    text[0] = L'\0';
    ListView_GetItemText(list, index, 2, text, ARRAYSIZE(text));
    // The row shows the entry's port unsigned, out-of-range ones included: they must reach
    // the check on OK as they are.
    entry->port = ParseConfigNumber(text, &number) ? (DWORD)number : wcstoul(text, NULL, 10);
}

static void LoadVlanControls(HWND page, const VlanSettings *vlan)
{
    SetDlgItemTextW(page, IDC_LOGON_SERVER, vlan->logonServer);
    SetDlgItemNumber(page, IDC_LOGON_PORT, (LONG)vlan->logonPort, FALSE);
    SetDlgItemTextW(page, IDC_LOGOFF_SERVER, vlan->logoffServer);
    SetDlgItemNumber(page, IDC_LOGOFF_PORT, (LONG)vlan->logoffPort, FALSE);
    HWND list = GetDlgItem(page, IDC_VLAN_LIST);
    ListView_DeleteAllItems(list);
    for (const VlanLogoffEntry *entry = vlan->entries; entry != NULL; entry = entry->next)
        InsertVlanRow(list, entry->vlanId, entry->address, entry->port);
    if (ListView_GetItemCount(list) > 0)
        SelectVlanRow(list, 0);
    UpdateVlanButtons(page);
}

static void SaveVlanControls(HWND page, VlanSettings *vlan)
{
    GetDlgItemTextW(page, IDC_LOGON_SERVER, vlan->logonServer, CONFIG_SERVER_CHARS);
    vlan->logonPort = GetDlgItemField(page, IDC_LOGON_PORT);
    GetDlgItemTextW(page, IDC_LOGOFF_SERVER, vlan->logoffServer, CONFIG_SERVER_CHARS);
    vlan->logoffPort = GetDlgItemField(page, IDC_LOGOFF_PORT);
    FreeVlanEntries(vlan);
    HWND list = GetDlgItem(page, IDC_VLAN_LIST);
    int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; i++) {
        VlanLogoffEntry entry = {};
        ReadVlanRow(list, i, &entry);
        AppendVlanEntry(vlan, entry.vlanId, entry.address, entry.port);
    }
}

static void EditVlanEntry(HWND page, BOOL update)
{
    HWND list = GetDlgItem(page, IDC_VLAN_LIST);
    VlanLogoffEntry entry = {};
    int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (update) {
        if (selected < 0)
            return;
        ReadVlanRow(list, selected, &entry);
    }
    if (DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_VLAN_ENTRY), page,
                        VlanEntryProc, (LPARAM)&entry) != SETUP_SUCCESS)
        return;
    if (update)
        ListView_DeleteItem(list, selected);
    SelectVlanRow(list, InsertVlanRow(list, entry.vlanId, entry.address, entry.port));
    UpdateVlanButtons(page);
}

static void DeleteVlanEntry(HWND page)
{
    HWND list = GetDlgItem(page, IDC_VLAN_LIST);
    int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (selected < 0 || !ListView_DeleteItem(list, selected))
        return;
    int remaining = ListView_GetItemCount(list);
    if (remaining > 0)
        SelectVlanRow(list, selected < remaining ? selected : remaining - 1);
    UpdateVlanButtons(page);
}

static void InsertVlanColumns(HWND list)
{
    static const struct {
        UINT headingId;
        int width;
        int format;
    } COLUMNS[] = {
        {IDS_COLUMN_VLAN_ID, 60, LVCFMT_RIGHT},   // the item text, by which the list sorts
        {IDS_COLUMN_ADDRESS, 160, LVCFMT_LEFT},
        {IDS_COLUMN_PORT, 70, LVCFMT_LEFT},
    };
    for (int i = 0; i < (int)ARRAYSIZE(COLUMNS); i++) {
        WCHAR heading[CONFIG_TEXT_CHARS] = L"";
        LoadStringW(GetModuleHandleW(NULL), COLUMNS[i].headingId, heading, ARRAYSIZE(heading));
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = COLUMNS[i].format;
        column.cx = COLUMNS[i].width;
        column.pszText = heading;
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, (LPARAM)&column);
    }
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
}

INT_PTR CALLBACK VlanPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(page, GWLP_USERDATA, lParam);
        SendDlgItemMessageW(page, IDC_LOGON_SERVER, EM_LIMITTEXT, CONFIG_SERVER_CHARS - 1, 0);
        SendDlgItemMessageW(page, IDC_LOGOFF_SERVER, EM_LIMITTEXT, CONFIG_SERVER_CHARS - 1, 0);
        SendDlgItemMessageW(page, IDC_LOGON_PORT, EM_LIMITTEXT, 5, 0);
        SendDlgItemMessageW(page, IDC_LOGOFF_PORT, EM_LIMITTEXT, 5, 0);
        InsertVlanColumns(GetDlgItem(page, IDC_VLAN_LIST));
        LoadVlanControls(page, &((ConfigRecords *)lParam)->vlan);
        return FALSE;
    }
    case WM_PAGE_LOAD:
        LoadVlanControls(page, &PageRecords(page)->vlan);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_PAGE_SAVE:
        SaveVlanControls(page, &PageRecords(page)->vlan);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return PageColor(message, wParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ADD:    EditVlanEntry(page, FALSE); return TRUE;
        case IDC_UPDATE: EditVlanEntry(page, TRUE); return TRUE;
        case IDC_DELETE: DeleteVlanEntry(page); return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- DHCP page

static void LoadDhcpControls(HWND page, const DhcpSettings *dhcp)
{
    CheckDlgButton(page, IDC_ENABLE_DHCP, dhcp->enableDhcp ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_NOT_FIND_DOMAIN, dhcp->notFindDomain ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemNumber(page, IDC_WAIT_IP_RENEW, (LONG)dhcp->waitIpRenew, FALSE);
    SetDlgItemNumber(page, IDC_WAIT_FIND_DOMAIN, (LONG)dhcp->waitFindDomain, FALSE);
}

static void SaveDhcpControls(HWND page, DhcpSettings *dhcp)
{
    dhcp->enableDhcp = IsDlgButtonChecked(page, IDC_ENABLE_DHCP) == BST_CHECKED;
    dhcp->notFindDomain = IsDlgButtonChecked(page, IDC_NOT_FIND_DOMAIN) == BST_CHECKED;
    dhcp->waitIpRenew = GetDlgItemField(page, IDC_WAIT_IP_RENEW);
    dhcp->waitFindDomain = GetDlgItemField(page, IDC_WAIT_FIND_DOMAIN);
}

INT_PTR CALLBACK DhcpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(page, GWLP_USERDATA, lParam);
        // As many digits as the largest wait has; a larger number is refused on OK.
        SendDlgItemMessageW(page, IDC_WAIT_IP_RENEW, EM_LIMITTEXT, 3, 0);
        SendDlgItemMessageW(page, IDC_WAIT_FIND_DOMAIN, EM_LIMITTEXT, 3, 0);
        LoadDhcpControls(page, &((ConfigRecords *)lParam)->dhcp);
        return FALSE;
    case WM_PAGE_LOAD:
        LoadDhcpControls(page, &PageRecords(page)->dhcp);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_PAGE_SAVE:
        SaveDhcpControls(page, &PageRecords(page)->dhcp);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return PageColor(message, wParam);
    }
    return FALSE;
}
