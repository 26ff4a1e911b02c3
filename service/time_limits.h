// Every time limit of the service, in one table. wardhost.exe runs the real values; tests
// that link the service's code install scaled ones, so that a 30 s dialogue or a 120 s
// search ends in a fraction of that.
#pragma once

#include <winsock2.h>
#include <windows.h>

struct TimeLimitTable {
    DWORD dialogueMs;          // a whole DE-Zeruzu dialogue, from its connection attempt
    DWORD replyPauseMs;        // after every reply line, as the server expects
    DWORD renewDelayMs;        // "iprenew" acts this long after its window opens
    DWORD searchFirstProbeMs;  // "finddomain" probes this soon (0: the platform's minimum)
    DWORD searchNextProbeMs;   // and again this long after each probe that found nothing
    DWORD searchBudgetMs;      // no probe starts once this much has passed
    DWORD pipeRequestMs;       // a whole request, from the client's connection
    DWORD pipeReplyMs;         // the write of its reply
    DWORD pipeDefaultWaitMs;   // the pipe's default time-out, for clients that wait on it
    DWORD startWaitHintMs;     // wait hint of the start-pending reports
    DWORD uninstallPollMs;     // "-uninstall": between two looks at a stopping service
    DWORD checkNetworkMs;      // "-check": resolution and connection, per server
    DWORD checkPipeMs;         // "-check": opening the pipe and getting its reply
};

extern const TimeLimitTable REAL_TIME_LIMITS;

// The table in use: the real one unless a test has installed another.
const TimeLimitTable &TimeLimits();
// Installs `limits` (which must outlive its use); NULL puts the real values back.
void SetTimeLimits(const TimeLimitTable *limits);
