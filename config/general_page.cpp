// The General page: the on/off box, the logon image, the "Log on to" names and the
// several-interfaces warning, with the small "Log on to" dialog.
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <commdlg.h>
#include <wchar.h>

static ConfigRecords *PageRecords(HWND page)
{
    return (ConfigRecords *)GetWindowLongPtrW(page, GWLP_USERDATA);
}

// "&Add..." while fewer than ten names are listed; "&Upd..." and "&Del..." while any are.
static void UpdateDomainButtons(HWND page)
{
    LRESULT count = SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR)
        count = 0;
    EnableWindow(GetDlgItem(page, IDC_ADD), count < DOMAIN_LIST_MAX);
    EnableWindow(GetDlgItem(page, IDC_UPDATE), count > 0);
    EnableWindow(GetDlgItem(page, IDC_DELETE), count > 0);
}

static void LoadGeneralControls(HWND page, const GeneralSettings *general)
{
    CheckDlgButton(page, IDC_ENABLE, general->enabled ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(page, IDC_LOGON_IMAGE, general->logonImage);
    SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_RESETCONTENT, 0, 0);
    int count = CountDomainNames(general);
    for (int i = 0; i < count; i++)
        SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_ADDSTRING, 0, (LPARAM)general->domainNames[i]);
    if (count > 0)
        SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_SETCURSEL, 0, 0);
    UpdateDomainButtons(page);
    CheckDlgButton(page, IDC_MULTI_CHECK, general->multiInterfaceCheck ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(page, IDC_MULTI_MESSAGE, general->multiInterfaceMessage);
}

static void SaveGeneralControls(HWND page, GeneralSettings *general)
{
    general->enabled = IsDlgButtonChecked(page, IDC_ENABLE) == BST_CHECKED;
    GetDlgItemTextW(page, IDC_LOGON_IMAGE, general->logonImage, CONFIG_TEXT_CHARS);
    ZeroMemory(general->domainNames, sizeof(general->domainNames));
    LRESULT count = SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_GETCOUNT, 0, 0);
    int slot = 0;
    for (LRESULT i = 0; count != LB_ERR && i < count && slot < DOMAIN_LIST_MAX; i++) {
        LRESULT length = SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR || length <= 0 || length >= CONFIG_TEXT_CHARS)
            continue;
        if (SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_GETTEXT, i,
                                (LPARAM)general->domainNames[slot]) == LB_ERR)
            continue;
        CharUpperW(general->domainNames[slot]);
        slot++;
    }
    general->multiInterfaceCheck = IsDlgButtonChecked(page, IDC_MULTI_CHECK) == BST_CHECKED;
    GetDlgItemTextW(page, IDC_MULTI_MESSAGE, general->multiInterfaceMessage, CONFIG_TEXT_CHARS);
}

// The "Log on to" dialog edits a buffer of CONFIG_TEXT_CHARS units, passed as its parameter.
static INT_PTR CALLBACK LogonToProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        SendDlgItemMessageW(dialog, IDC_DOMAIN_NAME, EM_LIMITTEXT, CONFIG_TEXT_CHARS - 1, 0);
        SetDlgItemTextW(dialog, IDC_DOMAIN_NAME, (LPCWSTR)lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            GetDlgItemTextW(dialog, IDC_DOMAIN_NAME,
                            (LPWSTR)GetWindowLongPtrW(dialog, GWLP_USERDATA), CONFIG_TEXT_CHARS);
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

static void AddOrUpdateDomain(HWND page, BOOL update)
{
    HWND list = GetDlgItem(page, IDC_DOMAIN_LIST);
    WCHAR name[CONFIG_TEXT_CHARS] = L"";
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (update) {
        if (selected == LB_ERR)
            return;
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, selected, 0);
        if (length == LB_ERR || length >= CONFIG_TEXT_CHARS ||
            SendMessageW(list, LB_GETTEXT, selected, (LPARAM)name) == LB_ERR)
            return;
    } else if (SendMessageW(list, LB_GETCOUNT, 0, 0) >= DOMAIN_LIST_MAX) {
        return;
    }
    if (DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_LOGON_TO), page, LogonToProc,
                        (LPARAM)name) != SETUP_SUCCESS)
        return;
    if (update)
        SendMessageW(list, LB_DELETESTRING, selected, 0);
    LRESULT added = SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)name);
    if (added != LB_ERR && added != LB_ERRSPACE)
        SendMessageW(list, LB_SETCURSEL, added, 0);
    UpdateDomainButtons(page);
}

static void DeleteDomain(HWND page)
{
    HWND list = GetDlgItem(page, IDC_DOMAIN_LIST);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return;
    LRESULT remaining = SendMessageW(list, LB_DELETESTRING, selected, 0);
    if (remaining != LB_ERR && remaining > 0)
        SendMessageW(list, LB_SETCURSEL, selected < remaining ? selected : remaining - 1, 0);
    UpdateDomainButtons(page);
}

static void BrowseLogonImage(HWND page)
{
    WCHAR filter[CONFIG_TEXT_CHARS];
    LoadFileFilter(IDS_BITMAP_FILTER, filter, ARRAYSIZE(filter));
    WCHAR path[CONFIG_TEXT_CHARS] = L"";
    OPENFILENAMEW open = {};
    open.lStructSize = sizeof(open);
    open.hwndOwner = page;
    open.lpstrFilter = filter;
    open.lpstrFile = path;
    open.nMaxFile = ARRAYSIZE(path);
    open.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameW(&open))
        SetDlgItemTextW(page, IDC_LOGON_IMAGE, path);
}

INT_PTR CALLBACK GeneralPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        ConfigRecords *records = (ConfigRecords *)lParam;
        SetWindowLongPtrW(page, GWLP_USERDATA, lParam);
        SendDlgItemMessageW(page, IDC_LOGON_IMAGE, EM_LIMITTEXT, CONFIG_TEXT_CHARS - 1, 0);
        SendDlgItemMessageW(page, IDC_MULTI_MESSAGE, EM_LIMITTEXT, CONFIG_TEXT_CHARS - 1, 0);
        LoadGeneralControls(page, &records->general);
        // Without the provider file the box shows the stored state but cannot switch it.
        EnableWindow(GetDlgItem(page, IDC_ENABLE), records->providerInstalled);
        return FALSE;
    }
    case WM_PAGE_LOAD:
        LoadGeneralControls(page, &PageRecords(page)->general);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_PAGE_SAVE:
        SaveGeneralControls(page, &PageRecords(page)->general);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return PageColor(message, wParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_BROWSE_IMAGE: BrowseLogonImage(page); return TRUE;
        case IDC_ADD:          AddOrUpdateDomain(page, FALSE); return TRUE;
        case IDC_UPDATE:       AddOrUpdateDomain(page, TRUE); return TRUE;
        case IDC_DELETE:       DeleteDomain(page); return TRUE;
        }
        break;
    }
    return FALSE;
}
