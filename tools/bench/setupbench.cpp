// setupbench: wardsetup.exe's command-line import of a configuration with 500 GroupList
// sections, against the platform's "reg import" of the values that import wrote (taken by
// "reg export") in the same run, both timed as whole processes, and the time from starting
// wardsetup.exe to its main window showing its first page.
// Usage: setupbench [ROUNDS]   (default 10; run beside wardsetup.exe)
#include "bench_support.h"
#include "dialogs.h"
#include "registration.h"
#include "setup_support.h"
#include "wardsetup_res.h"

using namespace bench;

enum { GROUPS = 500 };

static bool WriteIni(const std::wstring &ini)
{
    std::wstring text = L"[General]\r\nEnable=0\r\nLogonImage=C:\\logo.bmp\r\nMultiInterfaceCheck=1\r\n"
                        L"MultiInterfaceMessage=one\\ntwo\r\n[DomainList]\r\n0=CORP\r\n1=LAB\r\n"
                        L"[VLAN]\r\nVLANLogonServer=10.0.0.1\r\nVLANLogonPort=6000\r\n"
                        L"VLANLogoffServer=10.0.0.2\r\nVLANLogoffPort=6001\r\n";
    for (int id = 1; id <= GROUPS; id++) {
        wchar_t line[200];
        swprintf(line, 200, L"[GroupList%d]\r\nVLANLogoffServer=10.%d.%d.1\r\nVLANLogoffPort=%d\r\n",
                 id, id / 256, id % 256, 7000 + id);
        text += line;
    }
    text += L"[DHCP]\r\nEnableDHCP=1\r\nNotFindDomain=1\r\nWaitIpRenew=2\r\nWaitFindDomain=3\r\n";
    return test::WriteUtf16File(ini, text);
}

// Milliseconds from start to exit, or -1 when it failed or took over a minute.
static double TimeProcess(const std::wstring &commandLine)
{
    double start = NowMs();
    HANDLE process = StartCommand(commandLine);
    if (process == NULL)
        return -1;
    DWORD exitCode = 1;
    bool done = WaitForSingleObject(process, 60000) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(process, &exitCode) && exitCode == 0;
    double elapsed = NowMs() - start;
    CloseHandle(process);
    return done ? elapsed : -1;
}

// The main window with its first page: a dialog of the process without owner, holding
// the tab control and a child page.
static bool IsReadyWindow(HWND window)
{
    return GetWindow(window, GW_OWNER) == NULL && GetDlgItem(window, IDC_TAB) != NULL &&
           FindWindowExW(window, NULL, L"#32770", NULL) != NULL;
}

int wmain(int argc, wchar_t **argv)
{
    int rounds = CountArg(argc, argv, 1, 10);
    std::wstring ini = BesideMe(L"setupbench.cfg"), reg = BesideMe(L"setupbench.reg");
    std::wstring setup = L"\"" + BesideMe(SETUP_EXE_NAME) + L"\"";
    std::wstring import = setup + L" -i \"" + ini + L"\"";
    test::ClearConfiguration();
    DeleteFileW(reg.c_str());
    if (!WriteIni(ini) || TimeProcess(import) < 0 ||
        TimeProcess(L"reg.exe export \"HKLM\\" PRODUCT_KEY_PATH L"\" \"" + reg + L"\"") < 0) {
        fprintf(stderr, "cannot write the inputs beside setupbench.exe\n");
        return 2;
    }
    std::vector<double> imports, regImports, opens;
    for (int round = 0; round < rounds; round++) {
        test::ClearConfiguration();
        double a = TimeProcess(import);
        DWORD groupsA = (DWORD)test::GroupListSubkeys().size();
        test::ClearConfiguration();
        double b = TimeProcess(L"reg.exe import \"" + reg + L"\"");
        DWORD groupsB = (DWORD)test::GroupListSubkeys().size();
        if (a < 0 || b < 0 || groupsA != GROUPS || groupsB != GROUPS) {
            fprintf(stderr, "round %d failed: wardsetup %.1f ms (%lu groups), reg %.1f ms (%lu groups)\n",
                    round, a, groupsA, b, groupsB);
            return 1;
        }
        imports.push_back(a);
        regImports.push_back(b);
    }
    for (int round = 0; round < rounds; round++) {
        double start = NowMs();
        DWORD pid = 0;
        HANDLE process = StartCommand(setup, &pid);
        HWND window = process != NULL ? test::WaitForDialog(pid, IsReadyWindow, 30000) : NULL;
        double ready = NowMs() - start;
        if (window == NULL) {
            fprintf(stderr, "round %d: no window\n", round);
            return 1;
        }
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
        opens.push_back(ready);
    }
    test::ClearConfiguration();
    DeleteFileW(ini.c_str());
    DeleteFileW(reg.c_str());
    printf("%d GroupList sections\n", GROUPS);
    PrintStats("wardsetup -i:", imports);
    PrintStats("reg import of the same values:", regImports);
    // The machine is shared: the fastest rounds show the cost without other load.
    printf("ratio: %.2f of the medians, %.2f of the fastest rounds\n", Median(imports) / Median(regImports),
           *std::min_element(imports.begin(), imports.end()) /
               *std::min_element(regImports.begin(), regImports.end()));
    PrintStats("start -> window with its first page:", opens);
    return 0;
}
