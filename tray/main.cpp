// wardtray's entry: one instance per session, the "-t" switch, and the main window's
// modal loop, which lasts as long as the user's session.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "main_window.h"
#include "wardtray_res.h"

// Session-local: another user's session has its own client.
static const WCHAR INSTANCE_MUTEX[] = L"Local\\KORVALE.Portgate.wardtray";

struct FindMainWindow {
    WCHAR title[260];
    HWND found;
};

// The running client's window is recognised by its own controls, so that a message box
// that happens to carry the same caption is never taken for it.
static BOOL CALLBACK FindMainWindowProc(HWND window, LPARAM lParam)
{
    FindMainWindow *find = (FindMainWindow *)lParam;
    WCHAR className[16] = L"";
    WCHAR text[260] = L"";
    GetClassNameW(window, className, ARRAYSIZE(className));
    if (lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    GetWindowTextW(window, text, ARRAYSIZE(text));
    if (lstrcmpW(text, find->title) != 0)
        return TRUE;
    if (GetDlgItem(window, IDC_PICTURE) == NULL || GetDlgItem(window, IDC_MODE_CHANGE) == NULL ||
        GetDlgItem(window, IDC_CONFIG) == NULL || GetDlgItem(window, IDC_PAGE_AREA) == NULL)
        return TRUE;
    find->found = window;
    return FALSE;
}

static void RestoreRunningClient(HINSTANCE instance)
{
    FindMainWindow find = {};
    if (LoadStringW(instance, IDS_TITLE, find.title, ARRAYSIZE(find.title)) <= 0)
        return;
    EnumWindows(FindMainWindowProc, (LPARAM)&find);
    // The first instance may still be starting and have no window yet: nothing to restore.
    if (find.found == NULL)
        return;
    ShowWindow(find.found, SW_RESTORE);
    SetForegroundWindow(find.found);
    PostMessageW(find.found, WM_CHECK_INTERFACES, 0, 0);
}

// Only the first argument counts: "-t" or "/t", either case, nothing after it.
static BOOL IsStartHiddenSwitch(void)
{
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == NULL)
        return FALSE;
    BOOL hidden = count > 1 && (args[1][0] == L'-' || args[1][0] == L'/') &&
                  (args[1][1] == L't' || args[1][1] == L'T') && args[1][2] == L'\0';
    LocalFree(args);
    return hidden;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    HANDLE mutex = CreateMutexW(NULL, FALSE, INSTANCE_MUTEX);
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        RestoreRunningClient(instance);
        CloseHandle(mutex);
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    MainWindow context = {};
    context.instance = instance;
    context.startHidden = IsStartHiddenSwitch();
    context.requests.instance = instance;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), NULL, MainWindowProc, (LPARAM)&context);
    if (mutex != NULL)
        CloseHandle(mutex);
    return 0;
}
