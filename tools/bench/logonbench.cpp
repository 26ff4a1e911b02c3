// logonbench: time from sending "logon" to receiving "OK", over sequential logons against
// the DE-Zeruzu simulator playing the usual exchange without delays, beside the floor the
// dialogue itself fixes (three replies, each followed by its 50 ms pause).
//   logonbench.exe [COUNT]     wardhost must be installed and running; COUNT defaults to 50
// It points the product key's logon server at a dezsim.exe (logon-group.txt) it starts.
#include "bench_support.h"

using namespace bench;

static const double FLOOR_MS = 3 * 50.0;

int wmain(int argc, wchar_t **argv)
{
    int count = CountArg(argc, argv, 1, 50);
    HANDLE simulator = NULL;
    if (!WaitForService(60000)) {
        fprintf(stderr, "wardhost is not listening (error %lu)\n", GetLastError());
        return 1;
    }
    if (!StartSwitch(L"logon-group.txt", count, false, &simulator))
        return 1;
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        times.push_back(TimeCall(L"logon benchuser benchpassword", L"OK"));
        if (times.back() < 0) {
            fprintf(stderr, "logon %d failed\n", i + 1);
            TerminateProcess(simulator, 1);
            return 1;
        }
    }
    WaitForSingleObject(simulator, 10000);
    CloseHandle(simulator);

    printf("logons: %d\n", count);
    PrintStats("logon to OK:", times);
    printf("floor %.1f ms (3 replies x 50 ms pause): median %.2f x the floor\n", FLOOR_MS, Median(times) / FLOOR_MS);
    return 0;
}
