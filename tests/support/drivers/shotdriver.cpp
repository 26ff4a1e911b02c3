// shotdriver: opens wardsetup's window (its own code and resources, linked in) on a sample
// configuration and walks through every page and dialog. At each it prints
// "SHOT name x y width height" and waits until the file "name.done" appears in FOLDER,
// which tools/screenshots.sh creates once it has taken the picture.
// Usage: shotdriver FOLDER CONFIG-FILE
#include "dialogs.h"
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <commctrl.h>
#include <stdio.h>
#include <string>

static std::wstring g_folder;
static ConfigRecords g_records;

static DWORD WINAPI WindowThread(void *)
{
    RunMainWindow(GetModuleHandleW(NULL), &g_records);
    return 0;
}

// A visible dialog of this process that holds control id; NULL after 20 s.
static HWND WaitForDialog(int id)
{
    return test::WaitForDialog(GetCurrentProcessId(),
                               [id](HWND window) { return GetDlgItem(window, id) != NULL; });
}

static void Shoot(HWND window, const char *name)
{
    // Painting happens on the window's thread: a sent message returns once it is idle,
    // and a short pause lets the X server catch up.
    test::WaitUntilHandled(window, 5000);
    Sleep(400);
    // Without a window manager nothing draws the caption: the picture is the client area,
    // with the menu bar when there is one.
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, HWND_DESKTOP, (POINT *)&r, 2);
    MENUBARINFO menu = {};
    menu.cbSize = sizeof(menu);
    if (GetMenu(window) != NULL && GetMenuBarInfo(window, OBJID_MENU, 0, &menu))
        r.top = menu.rcBar.top;
    printf("SHOT %s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left, r.bottom - r.top);
    fflush(stdout);
    std::wstring done = g_folder + L"\\" + std::wstring(name, name + strlen(name)) + L".done";
    test::PollUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000, 10);
}

static HWND ShowTab(HWND main, int index)
{
    HWND tab = GetDlgItem(main, IDC_TAB);
    SendMessageW(tab, TCM_SETCURSEL, index, 0);
    NMHDR header = {tab, IDC_TAB, TCN_SELCHANGE};
    SendMessageW(main, WM_NOTIFY, IDC_TAB, (LPARAM)&header);
    return FindWindowExW(main, NULL, L"#32770", NULL);
}

// Opens a dialog with command, takes its picture and cancels it.
static void ShootDialog(HWND owner, WPARAM command, int id, const char *name)
{
    PostMessageW(owner, WM_COMMAND, command, 0);
    HWND dialog = WaitForDialog(id);
    if (dialog == NULL)
        return;
    Shoot(dialog, name);
    test::AnswerDialog(dialog, IDCANCEL);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    g_folder = argv[1];
    if (ImportConfigFile(argv[2]) != SETUP_SUCCESS)
        return 1;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HANDLE thread = CreateThread(NULL, 0, WindowThread, NULL, 0, NULL);
    HWND main = WaitForDialog(IDC_TAB);
    if (main == NULL)
        return 1;
    HWND page = FindWindowExW(main, NULL, L"#32770", NULL);
    Shoot(main, "general");
    SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_SETCURSEL, 0, 0);
    ShootDialog(page, IDC_UPDATE, IDC_DOMAIN_NAME, "logon-to");
    page = ShowTab(main, 1);
    Shoot(main, "vlan");
    ShootDialog(page, IDC_UPDATE, IDC_VLAN_ID, "vlan-entry");
    ShowTab(main, 2);
    Shoot(main, "dhcp");
    ShootDialog(main, IDM_ABOUT, IDC_PROVIDER_VERSION, "about");
    PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
    WaitForSingleObject(thread, 20000);
    return 0;
}
