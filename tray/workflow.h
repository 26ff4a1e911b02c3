// The service's logon and logoff as the tray client runs them: a modal progress window
// (dialog 101) over the steps, each step's pipe call on a worker thread of its own.
#pragma once

#include <windows.h>

enum {
    REQUEST_SUCCEEDED = 1,
    REQUEST_FAILED = 2,
};

struct ProgressRecord;

// The requests of one main window: the module whose resources the progress window shows,
// and the progress window open now (NULL: none), which the session's end gives up.
typedef struct RequestState {
    HINSTANCE instance;
    struct ProgressRecord *running;
} RequestState;

// "logon" with request (a text made by FormatLogonRequest, the caller's to wipe once this
// returns), then "iprenew" when EnableDHCP is on. Returns when the window has ended.
int RunLogonProgress(RequestState *state, LPCWSTR request);
// "logoff", then "iprenew" when EnableDHCP is on. quiet: no message boxes; budgetMs: the
// bound of the whole, 0 for none.
int RunLogoffProgress(RequestState *state, BOOL quiet, DWORD budgetMs);
// The session is ending while a request runs: it starts no further step and shows no
// box, its pipe call is given up to budgetMs to end, then its window ends.
void EndRunningRequest(RequestState *state, DWORD budgetMs);
