// pipebench: round-trip times of sequential requests to the wardhost pipe, measured in
// the same run against a minimal single-instance message-mode pipe server (the floor);
// and how often a client that calls again right after a reply is refused.
//   pipebench.exe [COUNT]                wardhost must be installed and running
//   pipebench.exe --back-to-back COUNT   alternating "logon"/"hello", no wait (no logon
//                                        server configured, so "logon" answers at once)
//   pipebench.exe --gap COUNT            after each "hello", how long until the pipe
//                                        accepts a connection again
//   pipebench.exe --floor-server         (internal) the floor server, started by the above
#include "bench_support.h"

static const wchar_t FLOOR_PIPE[] = L"\\\\.\\pipe\\pipebench-floor";

// Answers every request with "NG", as wardhost does for an unknown word.
static int RunFloorServer()
{
    HANDLE pipe = CreateNamedPipeW(FLOOR_PIPE, PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 260,
                                   260, 1000, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return 1;
    for (;;) {
        if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED)
            continue;
        wchar_t request[261];
        DWORD bytes;
        if (ReadFile(pipe, request, 520, &bytes, NULL)) {
            if (bytes == 8 && memcmp(request, L"quit", 8) == 0)
                break;
            WriteFile(pipe, L"NG", 4, &bytes, NULL);
        }
        DisconnectNamedPipe(pipe);
    }
    CloseHandle(pipe);
    return 0;
}

// The value below which `percent` of the sorted times lie.
static double At(const std::vector<double> &sorted, int percent)
{
    return sorted[(sorted.size() * percent) / 100];
}

// Prints the median and p99 of times (against floorMedian when that is above 0); the median.
static double Report(const char *name, std::vector<double> times, double floorMedian)
{
    std::sort(times.begin(), times.end());
    printf("%-9s median %.3f ms  p99 %.3f ms", name, At(times, 50), At(times, 99));
    if (floorMedian > 0)
        printf("  (median %.2fx the floor)", At(times, 50) / floorMedian);
    printf("\n");
    return At(times, 50);
}

// The service has one pipe instance: between its disconnect from one client and its
// next connect, a client that does not wait is refused (ERROR_SEM_TIMEOUT under Wine,
// ERROR_PIPE_BUSY on Windows). Counts those refusals over `count` calls.
static int RunBackToBack(int count)
{
    int refused = 0, otherFailures = 0;
    DWORD lastError = 0;
    for (int i = 0; i < count; i++) {
        std::wstring reply;
        if (bench::CallPipe(i % 2 == 0 ? L"logon" : L"hello", &reply, NMPWAIT_NOWAIT))
            continue;
        lastError = GetLastError();
        if (lastError == ERROR_SEM_TIMEOUT || lastError == ERROR_PIPE_BUSY)
            refused++;
        else
            otherFailures++;
    }
    printf("%d back-to-back calls: %d refused between two connections, %d other failures",
           count, refused, otherFailures);
    if (otherFailures > 0)
        printf(" (last error %lu)", lastError);
    printf("\n");
    return otherFailures == 0 ? 0 : 1;
}

// The refusals above happen in the time from a reply to the service's next connect; this
// measures it by connecting again at once, and again, until the pipe accepts.
static int RunGap(int count)
{
    std::vector<double> gaps;
    int failures = 0;
    for (int i = 0; i < count; i++) {
        if (bench::TimeCall(L"hello", L"NG", 2000) < 0) {
            failures++;
            continue;
        }
        double start = bench::NowMs();
        HANDLE pipe;
        while ((pipe = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                   OPEN_EXISTING, 0, NULL)) == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_PIPE_BUSY || bench::NowMs() - start > 5000)
                break;
        }
        gaps.push_back(bench::NowMs() - start);
        if (pipe == INVALID_HANDLE_VALUE) {
            failures++;
            continue;
        }
        // Ask for a reply so that the next call finds the service between requests.
        DWORD mode = PIPE_READMODE_MESSAGE, bytes;
        wchar_t reply[261];
        SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
        TransactNamedPipe(pipe, (LPVOID)L"hello", 10, reply, 520, &bytes, NULL);
        CloseHandle(pipe);
    }
    if (gaps.empty())
        return 1;
    std::sort(gaps.begin(), gaps.end());
    printf("%d replies: reply to next accepted connection median %.3f ms, p90 %.3f ms, "
           "p99 %.3f ms, max %.3f ms; %d failures\n",
           (int)gaps.size(), At(gaps, 50), At(gaps, 90), At(gaps, 99), gaps.back(), failures);
    return failures == 0 ? 0 : 1;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc > 1 && wcscmp(argv[1], L"--floor-server") == 0)
        return RunFloorServer();
    if (!bench::WaitForService(60000)) {
        fprintf(stderr, "the pipe %ls is missing (is wardhost running?)\n", WARD_PIPE_NAME);
        return 1;
    }
    if (argc > 2 && wcscmp(argv[1], L"--gap") == 0)
        return RunGap(_wtoi(argv[2]));
    if (argc > 2 && wcscmp(argv[1], L"--back-to-back") == 0)
        return RunBackToBack(_wtoi(argv[2]));
    int count = std::max(bench::CountArg(argc, argv, 1, 2000), 10);
    HANDLE server = bench::StartCommand(L"\"" + bench::BesideMe(L"pipebench.exe") + L"\" --floor-server");
    if (server == NULL || !bench::WaitForPipe(FLOOR_PIPE, 60000)) {
        fprintf(stderr, "the floor server did not start\n");
        if (server != NULL)
            TerminateProcess(server, 1);
        return 1;
    }

    std::vector<double> floorTimes, wardhostTimes;
    int failures = 0;
    // Alternate in batches so that both see the same machine load.
    for (int done = 0; done < count; done += 100) {
        for (int pass = 0; pass < 2; pass++) {
            const wchar_t *pipe = pass == 0 ? FLOOR_PIPE : WARD_PIPE_NAME;
            std::vector<double> &times = pass == 0 ? floorTimes : wardhostTimes;
            for (int i = done; i < done + 100 && i < count; i++) {
                double elapsed = bench::TimeCall(L"benchmark", L"NG", 2000, pipe);
                if (elapsed < 0)
                    failures++;
                else
                    times.push_back(elapsed);
            }
        }
    }
    std::wstring reply;
    bench::CallPipe(L"quit", &reply, 2000, FLOOR_PIPE);
    WaitForSingleObject(server, 5000);
    CloseHandle(server);

    printf("%d sequential requests each, %d failed calls\n", count, failures);
    Report("wardhost", wardhostTimes, Report("floor", floorTimes, 0));
    return failures == 0 ? 0 : 1;
}
