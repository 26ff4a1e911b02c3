// The main window: its two pages, its buttons, the several-interfaces warning, the
// start of the configuration tool and the shutdown procedure at the end of the session.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <time.h>

#include "product_key.h"
#include "main_window.h"
#include "registration.h"
#include "time_limits.h"
#include "tray_icon.h"
#include "ward_client.h"
#include "wardtray_res.h"

enum {
    INTERFACE_TIMER = 0,
    EDIT_LIMIT_CHARS = 259,
};

static BOOL IsLoggedOnToVlan(void)
{
    DWORD state = 0;
    return ReadConfigDword(NULL, VALUE_VLAN_LOGON, &state) == ERROR_SUCCESS &&
           state == VLAN_LOGON_STATE_ON;
}

static void SetOkButtonText(MainWindow *context, HWND mainWindow, UINT textId)
{
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(context->instance, textId, text, ARRAYSIZE(text));
    SetDlgItemTextW(mainWindow, IDOK, text);
}

// Overwrites the logon page's password edit before emptying it, so that the buffer the
// edit frees holds no password.
static void WipePasswordEdit(HWND page)
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

static void ShowPage(MainWindow *context, HWND mainWindow, WORD pageId)
{
    if (context->page != NULL) {
        WipePasswordEdit(context->page);
        DestroyWindow(context->page);
        context->page = NULL;
    }
    context->pageId = pageId;
    // The placeholder's rectangle in the main window's client coordinates.
    RECT area;
    GetWindowRect(GetDlgItem(mainWindow, IDC_PAGE_AREA), &area);
    MapWindowPoints(NULL, mainWindow, (POINT *)&area, 2);
    context->page = CreateDialogParamW(context->instance, MAKEINTRESOURCEW(pageId), mainWindow, NULL, 0);
    if (context->page == NULL)
        return;
    SetWindowPos(context->page, NULL, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOZORDER | SWP_SHOWWINDOW);
    HWND first = GetNextDlgTabItem(context->page, NULL, FALSE);
    if (first != NULL)
        SetFocus(first);
}

static void ShowLogonPage(MainWindow *context, HWND mainWindow)
{
    ShowPage(context, mainWindow, IDD_LOGON_PAGE);
    SendDlgItemMessageW(context->page, IDC_USER_NAME, EM_LIMITTEXT, EDIT_LIMIT_CHARS, 0);
    SendDlgItemMessageW(context->page, IDC_PASSWORD, EM_LIMITTEXT, EDIT_LIMIT_CHARS, 0);
    SetOkButtonText(context, mainWindow, IDS_LOGON_BUTTON);
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

static void ShowLogonInfoPage(MainWindow *context, HWND mainWindow)
{
    ShowPage(context, mainWindow, IDD_LOGON_INFO_PAGE);
    WCHAR user[CONFIG_TEXT_CHARS] = L"";
    WCHAR date[CONFIG_TEXT_CHARS] = L"";
    DWORD logonDate = 0;
    if (ReadConfigString(NULL, VALUE_DEFAULT_USER_NAME, user, ARRAYSIZE(user)) == ERROR_SUCCESS &&
        ReadConfigDword(NULL, VALUE_LOGON_DATE, &logonDate) == ERROR_SUCCESS)
        FormatLogonDate(logonDate, date, ARRAYSIZE(date));
    SetDlgItemTextW(context->page, IDC_USER_NAME, user);
    SetDlgItemTextW(context->page, IDC_LOGON_DATE, date);
    SetOkButtonText(context, mainWindow, IDS_LOGOFF_BUTTON);
}

// Re-entered from the warning's own message loop (a timer, a click on the icon, a second
// start): one warning on screen at a time.
static void CheckMultipleInterfaces(MainWindow *context, HWND mainWindow)
{
    if (context->warningShown)
        return;
    WCHAR message[CONFIG_TEXT_CHARS];
    if (!ReadMultiInterfaceWarning(message, ARRAYSIZE(message)))
        return;
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(context->instance, IDS_TITLE, caption, ARRAYSIZE(caption));
    context->warningShown = TRUE;
    while (CountExternalIPv4Addresses() > 1) {
        if (MessageBoxW(mainWindow, message, caption, MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
            ShowWindow(mainWindow, SW_HIDE);
            break;
        }
    }
    context->warningShown = FALSE;
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

static void InitMainWindow(MainWindow *context, HWND window)
{
    WCHAR title[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(context->instance, IDS_TITLE, title, ARRAYSIZE(title));
    SetWindowTextW(window, title);
    SendMessageW(window, WM_SETICON, ICON_BIG,
                 (LPARAM)LoadIconW(context->instance, MAKEINTRESOURCEW(IDI_WARDTRAY)));

    WCHAR image[CONFIG_TEXT_CHARS] = L"";
    ReadConfigString(NULL, VALUE_LOGON_IMAGE, image, ARRAYSIZE(image));
    if (image[0] != L'\0') {
        // Set even when the file does not load: the picture then stays empty.
        context->logonImage = (HBITMAP)LoadImageW(NULL, image, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
        SendDlgItemMessageW(window, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                            (LPARAM)context->logonImage);
    }

    if (IsLoggedOnToVlan())
        ShowLogonInfoPage(context, window);
    else
        ShowLogonPage(context, window);

    SendDlgItemMessageW(window, IDC_CONFIG, BCM_SETSHIELD, 0, TRUE);
    if (!IsAdministrator())
        EnableWindow(GetDlgItem(window, IDC_CONFIG), FALSE);

    context->iconAdded = UpdateTrayIcon(context->instance, window, NIM_ADD, TRAY_ICON_ATTEMPTS,
                                        &context->shutdownDone);
    // Adding waits for the taskbar, and the end of the session (a sent message) may be
    // handled meanwhile, before the icon counted as added: remove it now that it is.
    if (context->iconAdded && context->shutdownDone) {
        UpdateTrayIcon(context->instance, window, NIM_DELETE, 1, &context->shutdownDone);
        context->iconAdded = FALSE;
    }
    SetTimer(window, INTERFACE_TIMER, INTERFACE_CHECK_DELAY_MS, NULL);
}

static void ClearLogonEdits(MainWindow *context, BOOL userToo)
{
    WipePasswordEdit(context->page);
    if (userToo)
        SetDlgItemTextW(context->page, IDC_USER_NAME, L"");
}

// OK on the logon page: the typed words to the service, then the page the outcome asks for.
static int RunLogon(MainWindow *context, HWND mainWindow)
{
    WCHAR user[CONFIG_TEXT_CHARS] = L"";
    WCHAR password[CONFIG_TEXT_CHARS] = L"";
    WCHAR request[WARD_REQUEST_CHARS] = L"";
    GetDlgItemTextW(context->page, IDC_USER_NAME, user, ARRAYSIZE(user));
    GetDlgItemTextW(context->page, IDC_PASSWORD, password, ARRAYSIZE(password));
    LogonWordsResult words = FormatLogonRequest(user, password, NULL, request);
    SecureZeroMemory(password, sizeof(password));
    SecureZeroMemory(user, sizeof(user));
    // The password leaves the edit after every attempt, refused ones included.
    ClearLogonEdits(context, FALSE);
    if (words != LOGON_WORDS_OK) {
        // Nothing was sent: the user corrects the input.
        ShowTableMessage(mainWindow, words == LOGON_WORDS_BLANK ? IDS_BLANK_IN_CREDENTIALS
                                                                : IDS_AUTH_FAILED,
                         IDS_TITLE, MB_ICONWARNING);
        SetFocus(GetDlgItem(context->page, words == LOGON_WORDS_BLANK ? IDC_USER_NAME : IDC_PASSWORD));
        return REQUEST_FAILED;
    }
    int result = RunLogonProgress(&context->requests, request);
    SecureZeroMemory(request, sizeof(request));
    // The session ended meanwhile: its shutdown has logged off and set the page.
    if (context->shutdownDone)
        return result;
    if (result == REQUEST_SUCCEEDED) {
        ShowTableMessage(mainWindow, IDS_LOGON_DONE, IDS_TITLE, MB_ICONINFORMATION);
        if (context->shutdownDone)  // the session ended while the box was open
            return result;
        ShowLogonInfoPage(context, mainWindow);
        PostMessageW(mainWindow, WM_SIZE, SIZE_MINIMIZED, 0);
    } else {
        ClearLogonEdits(context, TRUE);
        SetFocus(GetDlgItem(context->page, IDC_USER_NAME));
    }
    return result;
}

// The logoff, from OK (showCompletion) or from the session's end (quiet, within budgetMs).
static int RunLogoffSequence(MainWindow *context, HWND mainWindow, BOOL showCompletion, BOOL quiet,
                             DWORD budgetMs)
{
    int result = RunLogoffProgress(&context->requests, quiet, budgetMs);
    if (context->shutdownDone && !quiet)
        return result;
    if (result == REQUEST_SUCCEEDED) {
        if (showCompletion)
            ShowTableMessage(mainWindow, IDS_LOGOFF_DONE, IDS_TITLE, MB_ICONINFORMATION);
        if (context->shutdownDone && !quiet)
            return result;
        ShowLogonPage(context, mainWindow);
        PostMessageW(mainWindow, WM_SIZE, SIZE_MINIMIZED, 0);
    }
    return result;
}

static int RunLogoff(MainWindow *context, HWND mainWindow)
{
    return RunLogoffSequence(context, mainWindow, TRUE, FALSE, 0);
}

// The logoff of a session that is ending: no boxes, over within budgetMs.
static int RunSessionEndLogoff(MainWindow *context, HWND mainWindow, DWORD budgetMs)
{
    return RunLogoffSequence(context, mainWindow, FALSE, TRUE, budgetMs);
}

// Runs once, from the session's end or the window's destruction, whichever comes first.
// It shows no boxes and is bounded, so it never holds up the end of the session.
static void RunShutdown(MainWindow *context, HWND window)
{
    if (context->shutdownDone)
        return;
    context->shutdownDone = TRUE;
    // A request still running (a logon in its renewal wait, say) would leave the
    // workstation in the user's VLAN: it is ended first, within the same bound as the
    // logoff, and the state it left decides whether to log off.
    EndRunningRequest(&context->requests, SESSION_END_BUDGET_MS);
    if (IsLoggedOnToVlan())
        RunSessionEndLogoff(context, window, SESSION_END_BUDGET_MS);
    if (context->page != NULL)
        WipePasswordEdit(context->page);
    if (context->iconAdded) {
        UpdateTrayIcon(context->instance, window, NIM_DELETE, 1, &context->shutdownDone);
        context->iconAdded = FALSE;
    }
    if (context->logonImage != NULL) {
        DeleteObject(context->logonImage);
        context->logonImage = NULL;
    }
}

static void OnCommand(MainWindow *context, HWND window, WORD id)
{
    switch (id) {
    case IDOK: {
        if (context->requests.running != NULL)
            return;
        HCURSOR previous = SetCursor(LoadCursorW(NULL, IDC_WAIT));
        if (context->pageId == IDD_LOGON_INFO_PAGE)
            RunLogoff(context, window);
        else
            RunLogon(context, window);
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
        if (context->requests.running != NULL)
            return;
        if (context->pageId == IDD_LOGON_PAGE)
            ShowLogonInfoPage(context, window);
        else
            ShowLogonPage(context, window);
        PostMessageW(window, WM_CHECK_INTERFACES, 0, 0);
        return;
    }
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MainWindow *context = (MainWindow *)GetWindowLongPtrW(window, DWLP_USER);
    if (message == WM_INITDIALOG) {
        context = (MainWindow *)lParam;
        SetWindowLongPtrW(window, DWLP_USER, (LONG_PTR)context);
        InitMainWindow(context, window);
        return TRUE;
    }
    // Messages before WM_INITDIALOG (the font, the first sizes) find no context yet.
    if (context == NULL)
        return FALSE;
    switch (message) {
    case WM_PAINT:
        if (context->startHidden) {
            ShowWindow(window, SW_HIDE);
            context->startHidden = FALSE;
        }
        return FALSE;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED && context->iconAdded)
            ShowWindow(window, SW_HIDE);
        return TRUE;
    case WM_COMMAND:
        OnCommand(context, window, LOWORD(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == INTERFACE_TIMER) {
            KillTimer(window, INTERFACE_TIMER);
            CheckMultipleInterfaces(context, window);
        }
        return FALSE;
    case WM_CHECK_INTERFACES:
        CheckMultipleInterfaces(context, window);
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
            RunShutdown(context, window);
        return FALSE;
    case WM_DESTROY:
        RunShutdown(context, window);
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    return FALSE;
}
