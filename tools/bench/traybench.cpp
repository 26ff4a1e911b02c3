// traybench: the tray client measured against the service it drives (installed and running),
// the product key pointed at two dezsim.exe it starts (logon-group.txt, logoff.txt).
//   traybench.exe [LOGONS] [CYCLES]       defaults 30 and 200; measures
//   - start with -t until the icon is added (a stand-in taskbar receives it);
//   - logon through the client (OK posted until the result box shows) against the
//     service's own "logon" round trip, alternating, in the same run;
//   - commit charge and GDI/USER objects of the client over CYCLES logon/logoff cycles;
//   - the end of the session while logged on, with the switch answering at once.
#include "tray_driver.h"

#include <psapi.h>

static const DWORD WAIT_MS = 60000;
static const wchar_t SERVICE_LOGON[] = L"logon benchuser benchpassword";

using bench::Median;

struct Client : driver::Client {
    // OK on the logon page; the time until the result box shows, or -1. *closed: the time
    // until the progress window had gone, the part of it that is the client's own work.
    double Logon(double *closed = NULL)
    {
        // Right after another reply the pipe may be between two connections (Wine: 121),
        // which the client reports as a stopped service; a user is never that quick.
        bench::WaitForService(WAIT_MS);
        SubmitLogon(L"benchuser", L"benchpassword");
        double start = bench::NowMs(), gone = 0;
        HWND progress = NULL;
        driver::WaitFor(
            [&] {
                if (progress == NULL)
                    progress = FindProgressWindow();
                else if (gone == 0 && !IsWindow(progress))
                    gone = bench::NowMs();
                return CountMessageBoxes() > 0;
            },
            WAIT_MS);
        double shown = bench::NowMs();
        std::wstring result = AnswerMessageBox(IDOK, WAIT_MS);
        if (result == L"<no box>" || !WaitForPage(IDC_LOGON_DATE, 5000)) {
            fwprintf(stderr, L"logon through the client: \"%ls\"\n", result.c_str());
            return -1;
        }
        if (closed != NULL)
            *closed = (gone != 0 ? gone : shown) - start;
        return shown - start;
    }
    bool Logoff()
    {
        bench::WaitForService(WAIT_MS);
        PostMessageW(Main(), WM_COMMAND, IDOK, 0);
        return AnswerMessageBox(IDOK, WAIT_MS) != L"<no box>" && WaitForPage(IDC_PASSWORD, WAIT_MS);
    }
    void Sample(int cycle)
    {
        // The commit charge is PagefileUsage; Wine leaves the _EX form's PrivateUsage at 0.
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof(memory);
        if (!GetProcessMemoryInfo(Process(), &memory, sizeof(memory)))
            printf("  (memory counters unreadable: %lu)\n", GetLastError());
        printf("  after %3d cycles: commit %6.0f KiB, GDI objects %lu, USER objects %lu\n", cycle,
               memory.PagefileUsage / 1024.0, GetGuiResources(Process(), GR_GDIOBJECTS),
               GetGuiResources(Process(), GR_USEROBJECTS));
    }
};

int wmain(int argc, wchar_t **argv)
{
    int logons = bench::CountArg(argc, argv, 1, 30), cycles = bench::CountArg(argc, argv, 2, 200);
    const int starts = 10, sessionEnds = 5;
    if (!bench::WaitForService(WAIT_MS)) {
        fwprintf(stderr, L"wardhost is not listening\n");
        return 1;
    }
    HANDLE logonSwitch, logoffSwitch;
    if (!bench::StartSwitch(L"logon-group.txt", 2 * logons + cycles + sessionEnds, false, &logonSwitch) ||
        !bench::StartSwitch(L"logoff.txt", cycles + sessionEnds, true, &logoffSwitch) ||
        !bench::SetKeyDword(VALUE_ENABLE_DHCP, 0) || !bench::SetKeyDword(VALUE_VLAN_LOGON, 1)) {
        fwprintf(stderr, L"cannot write the product key\n");
        return 1;
    }
    driver::Taskbar taskbar;
    int failures = 0;

    std::vector<double> iconTimes;
    for (int i = 1; i <= starts; i++) {
        Client client;
        double start = bench::NowMs();
        if (client.Open(L"-t", L"", WAIT_MS) != NULL &&
            driver::WaitFor([&] { return taskbar.Arrived(NIM_ADD, i) != 0; }, WAIT_MS))
            iconTimes.push_back(taskbar.Arrived(NIM_ADD, i) - start);
        else
            failures++;
    }
    bench::PrintStats("start with -t until the icon is added:", iconTimes);

    Client client;
    if (client.Open(L"", L"", WAIT_MS) == NULL) {
        fwprintf(stderr, L"wardtray.exe did not show its window\n");
        return 1;
    }
    std::vector<double> serviceTimes, clientTimes, closedTimes;
    for (int i = 0; i < logons; i++) {
        bench::WaitForService(WAIT_MS);
        double service = bench::TimeCall(SERVICE_LOGON, L"OK");
        double closed = 0, viaClient = client.Logon(&closed);
        if (service < 0 || viaClient < 0) {
            failures++;
            break;
        }
        serviceTimes.push_back(service);
        clientTimes.push_back(viaClient);
        closedTimes.push_back(closed);
        // Back to the logon page without a request.
        PostMessageW(client.Main(), WM_COMMAND, IDC_MODE_CHANGE, 0);
        client.WaitForPage(IDC_PASSWORD, WAIT_MS);
    }
    double serviceMedian = Median(serviceTimes), clientMedian = Median(clientTimes);
    printf("logon, %d each: service round trip median %.1f ms, through the client median %.1f ms"
           " (OK to result box), ratio %.2f\n",
           (int)clientTimes.size(), serviceMedian, clientMedian,
           serviceMedian > 0 ? clientMedian / serviceMedian : 0);
    printf("  of which OK to the progress window closed: median %.1f ms, ratio %.2f (the rest is"
           " the message box appearing)\n",
           Median(closedTimes), serviceMedian > 0 ? Median(closedTimes) / serviceMedian : 0);

    printf("logon/logoff cycles through the client:\n");
    for (int i = 1; i <= cycles; i++) {
        bool loggedOn = client.Logon() >= 0;
        if (!loggedOn || !client.Logoff()) {
            failures++;
            printf("  cycle %d: the %s failed\n", i, loggedOn ? "logoff" : "logon");
            break;
        }
        if (i == 1 || i % 50 == 0 || i == cycles)
            client.Sample(i);
    }
    client.Kill();

    std::vector<double> endTimes;
    for (int i = 0; i < sessionEnds; i++) {
        bench::WaitForService(WAIT_MS);
        Client ending;
        if (bench::TimeCall(SERVICE_LOGON, L"OK") < 0 || ending.Open(L"-t", L"", WAIT_MS) == NULL) {
            failures++;
            break;
        }
        double start = bench::NowMs();
        driver::EndSession(ending.Main(), WAIT_MS, TRUE, true);
        endTimes.push_back(bench::NowMs() - start);
    }
    bench::PrintStats("session end while logged on, switch at once:", endTimes);

    TerminateProcess(logonSwitch, 0);
    TerminateProcess(logoffSwitch, 0);
    return failures == 0 ? 0 : 1;
}
