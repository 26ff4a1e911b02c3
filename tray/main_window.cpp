// The main window: its two pages, its buttons, the several-interfaces warning, the
// start of the configuration tool and the shutdown procedure at the end of the session.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <time.h>

#include "product_key.h"
#include "registration.h"
#include "tray.h"
#include "ward_client.h"

enum {
    INTERFACE_TIMER = 0,
    INTERFACE_TIMER_MS = 500,
    // The service gives up on a silent switch after 30 s; the session's end waits no longer
    // for a running request to end, and no longer for its logoff.
    SESSION_END_BUDGET_MS = 30000,
    EDIT_LIMIT_CHARS = 259,
};

static BOOL IsLoggedOnToVlan(void)
{
    DWORD state = 0;
    return ReadConfigDword(NULL, VALUE_VLAN_LOGON, &state) == ERROR_SUCCESS &&
           state == VLAN_LOGON_STATE_ON;
}

static void SetOkButtonText(HWND mainWindow, UINT textId)
{
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_tray.instance, textId, text, ARRAYSIZE(text));
    SetDlgItemTextW(mainWindow, IDOK, text);
}

void WipePasswordEdit(HWND page)
{
    HWND edit = GetDlgItem(page, IDC_PASSWORD);
    if (edit == NULL)
        return;
    // Text of the same length is written over the old one in place; then it is emptied.
    int length = GetWindowTextLengthW(edit);
    if (length > 0) {
        WCHAR *filler = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, ((SIZE_T)length + 1) * sizeof(WCHAR));
        if (filler != NULL) {
            for (int i = 0; i < length; i++)
                filler[i] = L'0';
            filler[length] = L'\0';
            SetWindowTextW(edit, filler);
            HeapFree(GetProcessHeap(), 0, filler);
        }
    }
    SetWindowTextW(edit, L"");
    SendMessageW(edit, EM_EMPTYUNDOBUFFER, 0, 0);
}

static void ShowPage(HWND mainWindow, WORD pageId)
{
    if (g_tray.page != NULL) {
        WipePasswordEdit(g_tray.page);
        DestroyWindow(g_tray.page);
        g_tray.page = NULL;
    }
    g_tray.pageId = pageId;
    // The placeholder's rectangle in the main window's client coordinates.
    RECT area;
    GetWindowRect(GetDlgItem(mainWindow, IDC_PAGE_AREA), &area);
    MapWindowPoints(NULL, mainWindow, (POINT *)&area, 2);
    g_tray.page = CreateDialogParamW(g_tray.instance, MAKEINTRESOURCEW(pageId), mainWindow, NULL, 0);
    if (g_tray.page == NULL)
        return;
    SetWindowPos(g_tray.page, NULL, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOZORDER | SWP_SHOWWINDOW);
    HWND first = GetNextDlgTabItem(g_tray.page, NULL, FALSE);
    if (first != NULL)
        SetFocus(first);
}

void ShowLogonPage(HWND mainWindow)
{
    ShowPage(mainWindow, IDD_LOGON_PAGE);
    SendDlgItemMessageW(g_tray.page, IDC_USER_NAME, EM_LIMITTEXT, EDIT_LIMIT_CHARS, 0);
    SendDlgItemMessageW(g_tray.page, IDC_PASSWORD, EM_LIMITTEXT, EDIT_LIMIT_CHARS, 0);
    SetOkButtonText(mainWindow, IDS_LOGON_BUTTON);
}

// A logon time as the information page shows it: local date and time in the user's
// formats; empty when it cannot be formed.
static void FormatLogonDate(DWORD unixSeconds, LPWSTR text, int chars)
{
    text[0] = L'\0';
    __time64_t seconds = (__time64_t)unixSeconds;  // unsigned: no sign extension
    struct tm *local = _localtime64(&seconds);
    if (local == NULL)
        return;
    SYSTEMTIME time = {};
    time.wYear = (WORD)(local->tm_year + 1900);
    time.wMonth = (WORD)(local->tm_mon + 1);
    time.wDayOfWeek = (WORD)local->tm_wday;
    time.wDay = (WORD)local->tm_mday;
    time.wHour = (WORD)local->tm_hour;
    time.wMinute = (WORD)local->tm_min;
    time.wSecond = (WORD)local->tm_sec;
    WCHAR date[CONFIG_TEXT_CHARS] = L"";
    WCHAR clock[CONFIG_TEXT_CHARS] = L"";
    if (GetDateFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, date, ARRAYSIZE(date)) == 0 ||
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, clock, ARRAYSIZE(clock)) == 0)
        return;
    _snwprintf(text, chars, L"%ls %ls", date, clock);
    text[chars - 1] = L'\0';
}

void ShowLogonInfoPage(HWND mainWindow)
{
    ShowPage(mainWindow, IDD_LOGON_INFO_PAGE);
    WCHAR user[CONFIG_TEXT_CHARS] = L"";
    WCHAR date[CONFIG_TEXT_CHARS] = L"";
    DWORD logonDate = 0;
    if (ReadConfigString(NULL, VALUE_DEFAULT_USER_NAME, user, ARRAYSIZE(user)) == ERROR_SUCCESS &&
        ReadConfigDword(NULL, VALUE_LOGON_DATE, &logonDate) == ERROR_SUCCESS)
        FormatLogonDate(logonDate, date, ARRAYSIZE(date));
    SetDlgItemTextW(g_tray.page, IDC_USER_NAME, user);
    SetDlgItemTextW(g_tray.page, IDC_LOGON_DATE, date);
    SetOkButtonText(mainWindow, IDS_LOGOFF_BUTTON);
}

// Re-entered from the warning's own message loop (a timer, a click on the icon, a second
// start): one warning on screen at a time.
static void CheckMultipleInterfaces(HWND mainWindow)
{
    if (g_tray.warningShown)
        return;
    WCHAR message[CONFIG_TEXT_CHARS];
    if (!ReadMultiInterfaceWarning(message, ARRAYSIZE(message)))
        return;
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_tray.instance, IDS_TITLE, caption, ARRAYSIZE(caption));
    g_tray.warningShown = TRUE;
    while (CountExternalIPv4Addresses() > 1) {
        if (MessageBoxW(mainWindow, message, caption, MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
            ShowWindow(mainWindow, SW_HIDE);
            break;
        }
    }
    g_tray.warningShown = FALSE;
}

// The path of wardsetup.exe beside programPath; FALSE when it does not fit in chars.
static BOOL BuildConfigToolPath(LPCWSTR programPath, LPWSTR path, DWORD chars)
{
    LPCWSTR slash = wcsrchr(programPath, L'\\');
    if (slash == NULL)
        return FALSE;
    size_t folder = (size_t)(slash - programPath);
    size_t name = wcslen(SETUP_EXE_NAME);
    if (folder + 1 + name + 1 > chars)
        return FALSE;
    memcpy(path, programPath, folder * sizeof(WCHAR));
    path[folder] = L'\\';
    memcpy(path + folder + 1, SETUP_EXE_NAME, (name + 1) * sizeof(WCHAR));
    return TRUE;
}

static void StartConfigTool(HWND mainWindow)
{
    WCHAR program[MAX_PATH];
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, program, ARRAYSIZE(program));
    // A full buffer means the name was cut.
    BOOL ok = length > 0 && length < ARRAYSIZE(program) &&
              BuildConfigToolPath(program, path, ARRAYSIZE(path));
    // The tool asks for elevation; a refused prompt is a failed start too.
    if (ok)
        ok = (INT_PTR)ShellExecuteW(mainWindow, L"open", path, NULL, NULL, SW_SHOWNORMAL) > 32;
    if (!ok)
        ShowTableMessage(mainWindow, IDS_CONFIG_NOT_STARTED, IDS_TITLE, MB_ICONWARNING);
}

static void InitMainWindow(HWND window)
{
    WCHAR title[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_tray.instance, IDS_TITLE, title, ARRAYSIZE(title));
    SetWindowTextW(window, title);
    SendMessageW(window, WM_SETICON, ICON_BIG,
                 (LPARAM)LoadIconW(g_tray.instance, MAKEINTRESOURCEW(IDI_WARDTRAY)));

    WCHAR image[CONFIG_TEXT_CHARS] = L"";
    ReadConfigString(NULL, VALUE_LOGON_IMAGE, image, ARRAYSIZE(image));
    if (image[0] != L'\0') {
        // Set even when the file does not load: the picture then stays empty.
        g_tray.logonImage = (HBITMAP)LoadImageW(NULL, image, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
        SendDlgItemMessageW(window, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                            (LPARAM)g_tray.logonImage);
    }

    if (IsLoggedOnToVlan())
        ShowLogonInfoPage(window);
    else
        ShowLogonPage(window);

    SendDlgItemMessageW(window, IDC_CONFIG, BCM_SETSHIELD, 0, TRUE);
    if (!IsAdministrator())
        EnableWindow(GetDlgItem(window, IDC_CONFIG), FALSE);

    g_tray.iconAdded = UpdateTrayIcon(window, NIM_ADD, 5);
    // Adding waits for the taskbar, and the end of the session (a sent message) may be
    // handled meanwhile, before the icon counted as added: remove it now that it is.
    if (g_tray.iconAdded && g_tray.shutdownDone) {
        UpdateTrayIcon(window, NIM_DELETE, 1);
        g_tray.iconAdded = FALSE;
    }
    SetTimer(window, INTERFACE_TIMER, INTERFACE_TIMER_MS, NULL);
}

// Runs once, from the session's end or the window's destruction, whichever comes first.
// It shows no boxes and is bounded, so it never holds up the end of the session.
static void RunShutdown(HWND window)
{
    if (g_tray.shutdownDone)
        return;
    g_tray.shutdownDone = TRUE;
    // A request still running (a logon in its renewal wait, say) would leave the
    // workstation in the user's VLAN: it is ended first, within the same bound as the
    // logoff, and the state it left decides whether to log off.
    EndRunningRequest(SESSION_END_BUDGET_MS);
    if (IsLoggedOnToVlan())
        RunSessionEndLogoff(window, SESSION_END_BUDGET_MS);
    if (g_tray.page != NULL)
        WipePasswordEdit(g_tray.page);
    if (g_tray.iconAdded) {
        UpdateTrayIcon(window, NIM_DELETE, 1);
        g_tray.iconAdded = FALSE;
    }
    if (g_tray.logonImage != NULL) {
        DeleteObject(g_tray.logonImage);
        g_tray.logonImage = NULL;
    }
}

static void OnCommand(HWND window, WORD id)
{
    switch (id) {
    case IDOK: {
        if (g_tray.requestRunning)
            return;
        HCURSOR previous = SetCursor(LoadCursorW(NULL, IDC_WAIT));
        if (g_tray.pageId == IDD_LOGON_INFO_PAGE)
            RunLogoff(window, TRUE);
        else
            RunLogon(window);
        SetCursor(previous);
        return;
    }
    case IDCANCEL:
        // Cancel, Escape and the close button only hide: the client lives with the session.
        ShowWindow(window, SW_HIDE);
        return;
    case IDC_CONFIG:
        StartConfigTool(window);
        return;
    case IDC_MODE_CHANGE:
        if (g_tray.requestRunning)
            return;
        if (g_tray.pageId == IDD_LOGON_PAGE)
            ShowLogonInfoPage(window);
        else
            ShowLogonPage(window);
        PostMessageW(window, WM_CHECK_INTERFACES, 0, 0);
        return;
    }
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainWindow(window);
        return TRUE;
    case WM_PAINT:
        if (g_tray.startHidden) {
            ShowWindow(window, SW_HIDE);
            g_tray.startHidden = FALSE;
        }
        return FALSE;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED && g_tray.iconAdded)
            ShowWindow(window, SW_HIDE);
        return TRUE;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == INTERFACE_TIMER) {
            KillTimer(window, INTERFACE_TIMER);
            CheckMultipleInterfaces(window);
        }
        return FALSE;
    case WM_CHECK_INTERFACES:
        CheckMultipleInterfaces(window);
        return FALSE;
    case WM_TRAY_NOTIFY:
        if (lParam != WM_LBUTTONDOWN)
            return FALSE;
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        PostMessageW(window, WM_CHECK_INTERFACES, 0, 0);
        return TRUE;
    case WM_ENDSESSION:
        // FALSE: the end was cancelled and the session goes on, still logged on.
        if (wParam)
            RunShutdown(window);
        return FALSE;
    case WM_DESTROY:
        RunShutdown(window);
        return FALSE;
    }
    return FALSE;
}
