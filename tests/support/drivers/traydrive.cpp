// traydrive: logs on and off through wardtray.exe the way a user would, by messages to its
// windows, and prints what the client showed. Used by the main job.
//   traydrive.exe USER PASSWORD
// wardhost must be running and the product key must point at a DE-Zeruzu (or dezsim) for
// logon and logoff. wardtray.exe is started from this program's folder; at the end its
// session is ended (WM_QUERYENDSESSION, WM_ENDSESSION), as Windows does at logoff.
#include "files.h"
#include "tray_driver.h"

#include <stdio.h>

static void Print(const char *label, const std::wstring &text)
{
    printf("  %-22s %s\n", label, test::Narrow(text).c_str());
    fflush(stdout);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: traydrive USER PASSWORD\n");
        return 2;
    }
    const DWORD WAIT_MS = 60000;
    if (!bench::WaitForService(WAIT_MS)) {
        fwprintf(stderr, L"wardhost is not listening\n");
        return 1;
    }
    driver::Taskbar taskbar;
    driver::Client client;
    HWND main = client.Open(L"", L"", WAIT_MS);
    if (main == NULL) {
        fwprintf(stderr, L"wardtray.exe did not show its window\n");
        return 1;
    }
    int failures = 0;
    // A workstation still logged on from before starts on the information page.
    if (GetDlgItem(client.Page(), IDC_PASSWORD) == NULL) {
        PostMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
        client.WaitForPage(IDC_PASSWORD, 5000);
    }
    Print("OK button:", test::ItemText(main, IDOK));
    client.SubmitLogon(argv[1], argv[2]);
    Print("logon result:", client.AnswerMessageBox(IDOK, WAIT_MS));
    failures += !client.WaitForPage(IDC_LOGON_DATE, 5000);
    Print("Logon Name:", test::ItemText(client.Page(), IDC_USER_NAME));
    Print("Logon Date:", test::ItemText(client.Page(), IDC_LOGON_DATE));
    Print("OK button:", test::ItemText(main, IDOK));

    PostMessageW(main, WM_COMMAND, IDOK, 0);
    Print("logoff result:", client.AnswerMessageBox(IDOK, WAIT_MS));
    failures += !client.WaitForPage(IDC_PASSWORD, 5000);
    Print("OK button:", test::ItemText(main, IDOK));

    driver::EndSession(main, WAIT_MS, TRUE, true);
    bool removed = driver::WaitFor([&] { return taskbar.Arrived(NIM_DELETE, 1) != 0; }, 5000);
    Print("session end:", removed ? L"icon removed" : L"icon left behind");
    failures += !removed;
    return failures == 0 ? 0 : 1;
}
