// renewbench: wall time of "iprenew" with the renewal switched off and of "finddomain"
// with the search switched off, against the installed, running wardhost, each as a
// median of COUNT calls and as a ratio to its floor: the 4-second renewal timer, and
// the pipe round trip of a request that runs no operation (alone, and with the
// platform's minimum timer interval that the first search tick waits for).
//   renewbench.exe [COUNT]     (default 10; the two settings are restored afterwards)
#include <windows.h>

#include "product_key.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

static const wchar_t PIPE_NAME[] = L"\\\\.\\pipe\\wardhost";
static const double IPRENEW_TIMER_MS = 4000.0;

struct SavedDword {
    const wchar_t *name;
    bool present;
    DWORD value;
};

static void SaveDword(SavedDword *saved)
{
    DWORD size = sizeof(saved->value);
    saved->present = RegGetValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, saved->name,
                                  RRF_RT_REG_DWORD, NULL, &saved->value, &size) == ERROR_SUCCESS;
}

static bool SetDword(const wchar_t *name, DWORD value)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, name, REG_DWORD, &value,
                           sizeof(value)) == ERROR_SUCCESS;
}

static void RestoreDword(const SavedDword &saved)
{
    if (saved.present)
        SetDword(saved.name, saved.value);
    else
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, saved.name);
}

// One request; the wall time in milliseconds, or a negative number when it failed.
static double TimedCall(const wchar_t *request, const wchar_t *expectedPrefix)
{
    wchar_t reply[261] = L"";
    DWORD bytes = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BOOL ok = CallNamedPipeW(PIPE_NAME, const_cast<wchar_t *>(request),
                             (DWORD)(wcslen(request) * sizeof(wchar_t)), reply, 520, &bytes,
                             /*timeout*/ 20000);
    QueryPerformanceCounter(&end);
    if (!ok) {
        fprintf(stderr, "%ls: CallNamedPipe failed - %lu\n", request, GetLastError());
        return -1;
    }
    if (bytes < 4 || wcsncmp(reply, expectedPrefix, 2) != 0) {
        fprintf(stderr, "%ls: unexpected reply\n", request);
        return -1;
    }
    return (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// Median of `count` calls, or a negative number when any failed.
static double MedianOf(int count, const wchar_t *request, const wchar_t *expectedPrefix)
{
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        double ms = TimedCall(request, expectedPrefix);
        if (ms < 0)
            return -1;
        times.push_back(ms);
    }
    return Median(times);
}

int main(int argc, char **argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 10;
    if (count < 1)
        count = 10;
    SavedDword enableDhcp = {VALUE_ENABLE_DHCP, false, 0};
    SavedDword notFindDomain = {VALUE_NOT_FIND_DOMAIN, false, 0};
    SaveDword(&enableDhcp);
    SaveDword(&notFindDomain);
    if (!SetDword(VALUE_ENABLE_DHCP, 0) || !SetDword(VALUE_NOT_FIND_DOMAIN, 1)) {
        fprintf(stderr, "can't write the product key (run as administrator)\n");
        return 1;
    }

    double roundTrip = MedianOf(count, L"nop", L"NG");
    double iprenew = roundTrip < 0 ? -1 : MedianOf(count, L"iprenew", L"OK");
    double finddomain = iprenew < 0 ? -1 : MedianOf(count, L"finddomain", L"OK");

    RestoreDword(enableDhcp);
    RestoreDword(notFindDomain);
    if (finddomain < 0)
        return 1;
    printf("median of %d calls each\n", count);
    printf("round trip (no operation) %9.1f ms\n", roundTrip);
    printf("iprenew    (renewal off)  %9.1f ms  = %.3f x the 4000 ms timer\n", iprenew,
           iprenew / IPRENEW_TIMER_MS);
    printf("finddomain (search off)   %9.1f ms  = %.2f x the round trip\n", finddomain,
           finddomain / roundTrip);
    // A 0-ms timer fires after the platform's minimum interval.
    double tickFloor = USER_TIMER_MINIMUM + roundTrip;
    printf("                                        = %.2f x (%u ms minimum timer + round trip)\n",
           finddomain / tickFloor, (unsigned)USER_TIMER_MINIMUM);
    return 0;
}
