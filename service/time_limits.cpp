// The real time limits behind TimeLimits().
#include "time_limits.h"

const TimeLimitTable REAL_TIME_LIMITS = {
    /*dialogueMs*/ 30000,
    /*replyPauseMs*/ 50,
    /*renewDelayMs*/ 4000,
    /*searchFirstProbeMs*/ 0,
    /*searchNextProbeMs*/ 5000,
    /*searchBudgetMs*/ 120000,
    /*pipeRequestMs*/ 1000,
    /*pipeReplyMs*/ 5000,
    /*pipeDefaultWaitMs*/ 1000,
    /*startWaitHintMs*/ 3000,
    /*uninstallPollMs*/ 1000,
    /*checkNetworkMs*/ 5000,
    /*checkPipeMs*/ 5000,
};

static const TimeLimitTable *g_timeLimits = &REAL_TIME_LIMITS;

const TimeLimitTable &TimeLimits()
{
    return *g_timeLimits;
}

void SetTimeLimits(const TimeLimitTable *limits)
{
    g_timeLimits = limits != NULL ? limits : &REAL_TIME_LIMITS;
}
