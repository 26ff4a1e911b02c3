// traydrive: logs on and off through wardtray.exe the way a user would, by messages to its
// windows, and prints what the client showed. Used by the main job.
//   traydrive.exe USER PASSWORD
// wardhost must be running and the product key must point at a DE-Zeruzu (or dezsim) for
// logon and logoff. wardtray.exe is started from this program's folder; at the end its
// session is ended (WM_QUERYENDSESSION, WM_ENDSESSION), as Windows does at logoff.
#include "tray_driver.h"

#include <stdio.h>

static void Print(const char *label, const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, NULL, NULL);
    printf("  %-22s %s\n", label, utf8.c_str());
    fflush(stdout);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: traydrive USER PASSWORD\n");
        return 2;
    }
    const DWORD WAIT_MS = 60000;
    if (!driver::WaitForService(WAIT_MS)) {
        fwprintf(stderr, L"wardhost is not listening\n");
        return 1;
    }
    driver::Taskbar taskbar;
    DWORD pid = 0;
    HANDLE process = driver::StartProgram(driver::BesideMe(L"wardtray.exe"), L"", &pid);
    HWND main = process == NULL ? NULL : driver::WaitForMainWindow(pid, WAIT_MS);
    if (main == NULL) {
        fwprintf(stderr, L"wardtray.exe did not show its window\n");
        return 1;
    }
    int failures = 0;
    // A workstation still logged on from before starts on the information page.
    if (GetDlgItem(driver::Page(main), 1004) == NULL) {
        PostMessageW(main, WM_COMMAND, 1015, 0);
        driver::WaitFor([&] { return GetDlgItem(driver::Page(main), 1004) != NULL; }, 5000);
    }
    Print("OK button:", driver::Text(main, IDOK));
    driver::SubmitLogon(main, argv[1], argv[2]);
    std::wstring box = driver::AnswerMessageBox(pid, WAIT_MS);
    Print("logon result:", box);
    HWND page = NULL;
    failures += !driver::WaitFor(
        [&] { return GetDlgItem(page = driver::Page(main), 1005) != NULL; }, 5000);
    Print("Logon Name:", driver::Text(page, 1003));
    Print("Logon Date:", driver::Text(page, 1005));
    Print("OK button:", driver::Text(main, IDOK));

    PostMessageW(main, WM_COMMAND, IDOK, 0);
    box = driver::AnswerMessageBox(pid, WAIT_MS);
    Print("logoff result:", box);
    failures += !driver::WaitFor(
        [&] { return GetDlgItem(driver::Page(main), 1004) != NULL; }, 5000);
    Print("OK button:", driver::Text(main, IDOK));

    DWORD_PTR answer = 0;
    SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, WAIT_MS, &answer);
    SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, WAIT_MS, &answer);
    bool removed = driver::WaitFor([&] { return taskbar.Arrived(NIM_DELETE, 1) != 0; }, 5000);
    Print("session end:", removed ? L"icon removed" : L"icon left behind");
    failures += !removed;
    TerminateProcess(process, 0);
    CloseHandle(process);
    return failures == 0 ? 0 : 1;
}
