// logonbench: time from sending "logon" to receiving "OK", over sequential logons against
// the DE-Zeruzu simulator playing the usual exchange without delays, beside the floor the
// dialogue itself fixes (three replies, each followed by its 50 ms pause).
//   logonbench.exe [COUNT]     wardhost must be installed and running; COUNT defaults to 50
// It starts dezsim.exe with dezsim-scripts\logon-group.txt from its own folder and points
// VLANLogonServer and VLANLogonPort of the product key at it.
#include "bench_support.h"

#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

using namespace bench;

static const double FLOOR_MS = 3 * 50.0;

int wmain(int argc, wchar_t **argv)
{
    int count = argc > 1 ? _wtoi(argv[1]) : 50;
    if (count <= 0) {
        fwprintf(stderr, L"usage: logonbench [COUNT]\n");
        return 2;
    }
    if (!WaitForService(60000)) {
        fwprintf(stderr, L"wardhost is not listening (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE simulator = NULL;
    int port = StartSimulator(L"logon-group.txt", count, &simulator);
    if (port == 0) {
        fwprintf(stderr, L"dezsim did not start\n");
        return 1;
    }
    if (!SetKeyString(L"VLANLogonServer", L"127.0.0.1") || !SetKeyDword(L"VLANLogonPort", port)) {
        fwprintf(stderr, L"cannot write the product key\n");
        TerminateProcess(simulator, 1);
        return 1;
    }

    std::vector<double> times;
    const wchar_t request[] = L"logon benchuser benchpassword";
    for (int i = 0; i < count; i++) {
        std::wstring reply;
        double start = NowMs();
        BOOL ok = CallPipe(request, &reply);
        double elapsed = NowMs() - start;
        if (!ok || reply != L"OK") {
            fwprintf(stderr, L"logon %d failed: %ls (error %lu)\n", i + 1, reply.c_str(), ok ? 0 : GetLastError());
            TerminateProcess(simulator, 1);
            return 1;
        }
        times.push_back(elapsed);
    }
    WaitForSingleObject(simulator, 10000);
    CloseHandle(simulator);

    double median = Median(times);
    printf("logons: %d\n", count);
    printf("median: %.1f ms\n", median);
    printf("min:    %.1f ms\n", *std::min_element(times.begin(), times.end()));
    printf("max:    %.1f ms\n", *std::max_element(times.begin(), times.end()));
    printf("floor:  %.1f ms (3 replies x 50 ms pause)\n", FLOOR_MS);
    printf("ratio:  %.2f x floor\n", median / FLOOR_MS);
    return 0;
}
