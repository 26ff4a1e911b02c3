// renewbench: wall time of "iprenew" with the renewal switched off and of "finddomain"
// with the search switched off, against the installed, running wardhost, each as a
// median of COUNT calls and as a ratio to its floor: the 4-second renewal timer, and
// the pipe round trip of a request that runs no operation (alone, and with the
// platform's minimum timer interval that the first search tick waits for).
//   renewbench.exe [COUNT]     (default 10; the two settings are restored afterwards)
#include "bench_support.h"

using namespace bench;

static const double IPRENEW_TIMER_MS = 4000.0;

// A value of the product key as it was before the run, put back by Restore().
struct SavedDword {
    explicit SavedDword(const wchar_t *valueName) : name(valueName)
    {
        DWORD size = sizeof(value);
        present = RegGetValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, name, RRF_RT_REG_DWORD, NULL,
                               &value, &size) == ERROR_SUCCESS;
    }
    void Restore() const
    {
        if (present)
            SetKeyDword(name, value);
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, name);
    }
    const wchar_t *name;
    bool present;
    DWORD value = 0;
};

// Median wall time of `count` calls of one request, or a negative number when any failed.
static double MedianOf(int count, const wchar_t *request, const wchar_t *expected)
{
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        times.push_back(TimeCall(request, expected, /*timeout*/ 20000));
        if (times.back() < 0)
            return -1;
    }
    return Median(times);
}

int wmain(int argc, wchar_t **argv)
{
    int count = CountArg(argc, argv, 1, 10);
    const SavedDword enableDhcp(VALUE_ENABLE_DHCP), notFindDomain(VALUE_NOT_FIND_DOMAIN);
    if (!SetKeyDword(VALUE_ENABLE_DHCP, 0) || !SetKeyDword(VALUE_NOT_FIND_DOMAIN, 1)) {
        fprintf(stderr, "can't write the product key (run as administrator)\n");
        return 1;
    }

    double roundTrip = MedianOf(count, L"nop", L"NG");
    double iprenew = roundTrip < 0 ? -1 : MedianOf(count, L"iprenew", L"OK");
    double finddomain = iprenew < 0 ? -1 : MedianOf(count, L"finddomain", L"OK");

    enableDhcp.Restore();
    notFindDomain.Restore();
    if (finddomain < 0)
        return 1;
    printf("median of %d calls each\n", count);
    printf("round trip (no operation) %9.1f ms\n", roundTrip);
    printf("iprenew    (renewal off)  %9.1f ms  = %.3f x the 4000 ms timer\n", iprenew,
           iprenew / IPRENEW_TIMER_MS);
    printf("finddomain (search off)   %9.1f ms  = %.2f x the round trip\n", finddomain,
           finddomain / roundTrip);
    // A 0-ms timer fires after the platform's minimum interval.
    printf("                                        = %.2f x (%u ms minimum timer + round trip)\n",
           finddomain / (USER_TIMER_MINIMUM + roundTrip), (unsigned)USER_TIMER_MINIMUM);
    return 0;
}
