// wardhost with its time limits scaled down, for service tests about behaviour rather
// than about the limits: a renewal answers after 200 ms instead of 4 s. wardhost.exe
// runs the real limits, and the tests of those run against it.
#include "wardhost.h"
#include "time_limits.h"

static const TimeLimitTable SCALED_LIMITS = [] {
    TimeLimitTable limits = REAL_TIME_LIMITS;
    limits.dialogueMs = 10000;
    limits.replyPauseMs = 5;
    limits.renewDelayMs = 200;
    limits.searchNextProbeMs = 250;
    limits.searchBudgetMs = 6000;
    return limits;
}();

int main(int argc, char **argv)
{
    SetTimeLimits(&SCALED_LIMITS);
    return WardhostMain(argc, argv);
}
