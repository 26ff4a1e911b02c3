// The main window: tabs that show one page at a time, OK and Cancel, the File menu, the
// About box; and the program's start-up (import switch, single instance, administrator).
#include "wardsetup.h"
#include "wardsetup_res.h"
#include "registration.h"
#include "ward_client.h"

#include <commctrl.h>
#include <commdlg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { FILE_PATH_CHARS = 1024 };

typedef struct MainWindow {
    ConfigRecords *records;
    HWND tab;
    HWND page;        // the page on display, or NULL
    RECT pageRect;    // in the main window's client coordinates
} MainWindow;

static void ShowSetupMessage(HWND owner, UINT textId)
{
    ShowTableMessage(owner, textId, IDS_APP_TITLE, MB_OK | MB_ICONERROR);
}

// A failed operation's message, with the range it names filled in.
static void ShowFailure(HWND owner, const ConfigRecords *records, UINT fallbackId)
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    WCHAR format[CONFIG_TEXT_CHARS] = L"";
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(instance, records->failureText != 0 ? records->failureText : fallbackId, format,
                ARRAYSIZE(format));
    // Every message of ours takes the two numbers or none.
    _snwprintf(text, ARRAYSIZE(text) - 1, format, (int)records->failureLow,
               (int)records->failureHigh);
    LoadStringW(instance, IDS_APP_TITLE, caption, ARRAYSIZE(caption));
    MessageBoxW(owner, text, caption, MB_OK | MB_ICONERROR);
}

// ---- About box

static void ShowProviderVersion(HWND dialog)
{
    SetDlgItemTextW(dialog, IDC_PROVIDER_VERSION, L"");
    SetDlgItemTextW(dialog, IDC_PROVIDER_COPYRIGHT, L"");
    UINT chars = GetSystemDirectoryW(NULL, 0);
    if (chars == 0)
        return;
    LPWSTR path = (LPWSTR)calloc(chars + 1 + wcslen(PROVIDER_DLL_NAME) + 1, sizeof(WCHAR));
    if (path == NULL)
        return;
    UINT got = GetSystemDirectoryW(path, chars);
    DWORD size = 0;
    if (got > 0 && got < chars) {
        wcscat(path, L"\\" PROVIDER_DLL_NAME);
        DWORD handle;
        size = GetFileVersionInfoSizeW(path, &handle);
    }
    HINSTANCE instance = GetModuleHandleW(NULL);
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    if (size == 0) {
        LoadStringW(instance, IDS_NOT_INSTALLED, text, ARRAYSIZE(text));
        SetDlgItemTextW(dialog, IDC_PROVIDER_VERSION, text);
        ShowWindow(GetDlgItem(dialog, IDC_PROVIDER_COPYRIGHT), SW_HIDE);
        free(path);
        return;
    }
    // The block at the size the platform asks for: a fixed buffer cut off later strings.
    void *block = malloc(size);
    if (block != NULL && GetFileVersionInfoW(path, 0, size, block)) {
        VS_FIXEDFILEINFO *fixed = NULL;
        UINT length = 0;
        if (VerQueryValueW(block, L"\\", (void **)&fixed, &length) && fixed != NULL &&
            length >= sizeof(*fixed)) {
            WCHAR format[CONFIG_TEXT_CHARS] = L"";
            LoadStringW(instance, IDS_VERSION_FORMAT, format, ARRAYSIZE(format));
            swprintf(text, ARRAYSIZE(text), format, (int)HIWORD(fixed->dwFileVersionMS),
                     (int)LOWORD(fixed->dwFileVersionMS), (int)HIWORD(fixed->dwFileVersionLS));
            SetDlgItemTextW(dialog, IDC_PROVIDER_VERSION, text);
        }
        LPWSTR copyright = NULL;
        if (VerQueryValueW(block, L"\\StringFileInfo\\040904b0\\LegalCopyright",
                           (void **)&copyright, &length) &&
            copyright != NULL && length > 0)
            SetDlgItemTextW(dialog, IDC_PROVIDER_COPYRIGHT, copyright);
    }
    free(block);
    free(path);
}

static INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowProviderVersion(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- pages

static void ShowPage(HWND window, MainWindow *state)
{
    if (state->page != NULL) {
        // The page gives its values back before it goes, so a tab switch keeps edits.
        SendMessageW(state->page, WM_PAGE_SAVE, 0, 0);
        DestroyWindow(state->page);
        state->page = NULL;
    }
    int index = (int)SendMessageW(state->tab, TCM_GETCURSEL, 0, 0);
    if (index < 0 || index >= SETTINGS_PAGE_COUNT)
        return;
    const SettingsPage *row = &g_settingsPages[index];
    state->page = CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(row->templateId),
                                     window, row->dialogProc, (LPARAM)state->records);
    if (state->page == NULL)
        return;
    SetWindowPos(state->page, HWND_TOP, state->pageRect.left, state->pageRect.top,
                 state->pageRect.right - state->pageRect.left,
                 state->pageRect.bottom - state->pageRect.top, SWP_SHOWWINDOW);
    HWND first = GetNextDlgTabItem(state->page, NULL, FALSE);
    if (first != NULL)
        SetFocus(first);
}

static void InitMainWindow(HWND window, MainWindow *state)
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(instance, IDS_APP_TITLE, text, ARRAYSIZE(text));
    SetWindowTextW(window, text);
    HICON icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(IDI_WARDSETUP), IMAGE_ICON, 0, 0,
                                   LR_DEFAULTSIZE | LR_SHARED);
    SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)icon);
    state->records->providerInstalled = IsProviderInstalled();

    state->tab = GetDlgItem(window, IDC_TAB);
    for (int i = 0; i < SETTINGS_PAGE_COUNT; i++) {
        LoadStringW(instance, g_settingsPages[i].captionId, text, ARRAYSIZE(text));
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        SendMessageW(state->tab, TCM_INSERTITEMW, i, (LPARAM)&item);
    }
    // The tab control's display area in the main window's client coordinates.
    GetWindowRect(state->tab, &state->pageRect);
    MapWindowPoints(HWND_DESKTOP, window, (POINT *)&state->pageRect, 2);
    SendMessageW(state->tab, TCM_ADJUSTRECT, FALSE, (LPARAM)&state->pageRect);

    ReadAllFromRegistry(state->records);
    ShowPage(window, state);
}

// ---- File menu

static BOOL AskForFile(HWND window, BOOL save, LPWSTR path)
{
    WCHAR filter[CONFIG_TEXT_CHARS];
    LoadFileFilter(IDS_CONFIG_FILTER, filter, ARRAYSIZE(filter));
    path[0] = L'\0';
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = FILE_PATH_CHARS;
    if (save) {
        dialog.lpstrDefExt = L"cfg";
        dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
        return GetSaveFileNameW(&dialog);
    }
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    return GetOpenFileNameW(&dialog);
}

static void SaveConfigFile(HWND window, MainWindow *state)
{
    WCHAR path[FILE_PATH_CHARS];
    if (!AskForFile(window, TRUE, path))
        return;
    if (state->page != NULL)
        SendMessageW(state->page, WM_PAGE_SAVE, 0, 0);
    if (WriteAllToFile(state->records, path) != SETUP_SUCCESS)
        ShowSetupMessage(window, IDS_FILE_WRITE_FAILED);
}

// The file is read into a copy, so a file that cannot be used leaves every page as it was.
static void ReadConfigFile(HWND window, MainWindow *state)
{
    WCHAR path[FILE_PATH_CHARS];
    if (!AskForFile(window, FALSE, path))
        return;
    ConfigRecords *copy = (ConfigRecords *)calloc(1, sizeof(ConfigRecords));
    if (copy == NULL || !CopyRecords(copy, state->records) ||
        ReadAllFromFile(copy, path) != SETUP_SUCCESS) {
        if (copy != NULL) {
            ShowFailure(window, copy, IDS_FILE_READ_FAILED);
            ReleaseAll(copy);
        } else {
            ShowSetupMessage(window, IDS_FILE_READ_FAILED);
        }
        free(copy);
        return;
    }
    ReleaseAll(state->records);
    *state->records = *copy;
    free(copy);
    if (state->page != NULL)
        SendMessageW(state->page, WM_PAGE_LOAD, 0, 0);
}

static INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MainWindow *state = (MainWindow *)GetWindowLongPtrW(window, GWLP_USERDATA);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        InitMainWindow(window, (MainWindow *)lParam);
        return FALSE;  // the page took the focus
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->idFrom == IDC_TAB && header->code == TCN_SELCHANGE) {
            ShowPage(window, state);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (state->page != NULL)
                SendMessageW(state->page, WM_PAGE_SAVE, 0, 0);
            // A save that failed keeps the window, and the edits, open.
            if (WriteAllToRegistry(state->records) != SETUP_SUCCESS) {
                ShowFailure(window, state->records, IDS_SAVE_FAILED);
                return TRUE;
            }
            EndDialog(window, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return TRUE;
        case IDM_EXIT:
            EndDialog(window, IDM_EXIT);
            return TRUE;
        case IDM_READ_FILE:
            ReadConfigFile(window, state);
            return TRUE;
        case IDM_SAVE_FILE:
            SaveConfigFile(window, state);
            return TRUE;
        case IDM_ABOUT:
            DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_ABOUT), window, AboutProc, 0);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        if (state != NULL)
            ReleaseAll(state->records);
        break;
    }
    return FALSE;
}

INT_PTR RunMainWindow(HINSTANCE instance, ConfigRecords *records)
{
    MainWindow state = {};
    state.records = records;
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), NULL, MainWindowProc,
                           (LPARAM)&state);
}

// ---- start-up

// Session-local: an administrator in another session has a tool of their own.
static const WCHAR INSTANCE_MUTEX[] = L"Local\\KORVALE.Portgate.wardsetup";

// The running tool's main window is known by having no owner and its own controls: one
// of its message boxes carries the same caption.
static BOOL CALLBACK FindRunningWindow(HWND window, LPARAM parameter)
{
    WCHAR className[16] = L"";
    if (!GetClassNameW(window, className, ARRAYSIZE(className)) ||
        wcscmp(className, L"#32770") != 0 || GetWindow(window, GW_OWNER) != NULL ||
        !GetClassNameW(GetDlgItem(window, IDC_TAB), className, ARRAYSIZE(className)) ||
        wcscmp(className, WC_TABCONTROLW) != 0 || GetDlgItem(window, IDOK) == NULL ||
        GetDlgItem(window, IDCANCEL) == NULL)
        return TRUE;
    *(HWND *)parameter = window;
    return FALSE;
}

static void RestoreRunningWindow(void)
{
    HWND running = NULL;
    EnumWindows(FindRunningWindow, (LPARAM)&running);
    // The first instance may not have its window yet: nothing to bring forward then.
    if (running == NULL)
        return;
    ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
}

int RunWardsetup(HINSTANCE instance, int argc, LPWSTR *argv, BOOL isAdministrator)
{
    if (argc >= 2 && (wcscmp(argv[1], L"-i") == 0 || wcscmp(argv[1], L"/i") == 0)) {
        // Never a window on this path: a script waits for the exit code.
        if (isAdministrator && argc == 3 && ImportConfigFile(argv[2]) == SETUP_SUCCESS)
            return 0;
        return SETUP_EXIT_FAILURE;
    }

    // Two quick starts both find no window yet: the mutex decides which one runs.
    HANDLE mutex = CreateMutexW(NULL, FALSE, INSTANCE_MUTEX);
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        RestoreRunningWindow();
        CloseHandle(mutex);
        return 0;
    }
    if (!isAdministrator) {
        ShowTableMessage(NULL, IDS_NOT_ADMINISTRATOR, IDS_APP_TITLE, MB_OK | MB_ICONERROR);
        if (mutex != NULL)
            CloseHandle(mutex);
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ConfigRecords *records = (ConfigRecords *)calloc(1, sizeof(ConfigRecords));
    INT_PTR result = records != NULL ? RunMainWindow(instance, records) : 0;
    free(records);
    if (mutex != NULL)
        CloseHandle(mutex);
    return result > 0 ? (int)result : SETUP_EXIT_FAILURE;
}
