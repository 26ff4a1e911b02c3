// What the service's two clients (the logon tile and the tray program) share: one request
// and one reply over the service's pipe, the logon request's words, the several-interfaces
// check, the administrator test and table-driven message boxes. Compiled into each client.
#pragma once

#include <windows.h>

#include "ward_names.h"

enum {
    WARD_REQUEST_CHARS = 260,   // request text, terminator included
    WARD_REPLY_CHARS = 261,     // a full 520-byte reply plus our own terminator
    // The longest operation (a domain-controller search) runs 120 s in the service.
    WARD_REPLY_TIMEOUT_MS = 180000,
    // A refusal before connecting (the service between two connections) is retried this long.
    WARD_BUSY_RETRY_MS = 1000,
};

typedef struct WardReply {
    BOOL accepted;                  // the reply began with exactly "OK"
    WCHAR text[WARD_REPLY_CHARS];   // what followed "OK"/"NG", terminated
} WardReply;

// Sends one request and reads one reply. Returns ERROR_SUCCESS when the service answered
// (a reply longer than the buffer, ERROR_MORE_DATA, counts as answered: the operation ran);
// otherwise the Windows error of the failure, and the service counts as not reachable.
// busyRetryMs: how long a refusal before the request was sent (see
// IsServiceRefusalBeforeSending) is retried. Before any request is sent, the pipe's server
// process must be the running wardhost service, otherwise nothing is sent and the result is
// ERROR_SERVICE_NOT_ACTIVE, for every request. The wait for the reply is bounded by
// replyTimeoutMs (ERROR_TIMEOUT). The request buffer is the caller's to wipe; every copy
// made here is wiped.
DWORD CallWardService(LPCWSTR request, DWORD busyRetryMs, DWORD replyTimeoutMs, WardReply *reply);

// The server check, TRUE when the pipe's server may be sent a request. Tests that serve
// the pipe themselves put their own in place; NULL restores the real one.
typedef BOOL (*WardServerCheck)(HANDLE pipe);
void SetWardServerCheck(WardServerCheck check);

// Errors that mean the request never reached the service: no pipe (2), all instances
// busy (231), and 121, which Wine reports for a busy pipe.
BOOL IsServiceRefusalBeforeSending(DWORD error);

typedef enum LogonWordsResult {
    LOGON_WORDS_OK,
    LOGON_WORDS_BLANK,      // a word is empty or contains a blank: it would shift the request's words
    LOGON_WORDS_TOO_LONG,   // the request would not fit in WARD_REQUEST_CHARS units
} LogonWordsResult;

// Formats "logon USER PASSWORD DOMAIN" (domain NULL: "logon USER PASSWORD") into request
// (WARD_REQUEST_CHARS units) after checking every word; on a refusal request is empty.
LogonWordsResult FormatLogonRequest(LPCWSTR user, LPCWSTR password, LPCWSTR domain, LPWSTR request);

// When MultiInterfaceCheck is on and MultiInterfaceMessage is not empty, the message with
// each "\n" pair turned into a line feed, and TRUE; otherwise FALSE.
BOOL ReadMultiInterfaceWarning(LPWSTR message, DWORD chars);
// IPv4 addresses other than 127.0.0.1 and 0.0.0.0; 0 when the table cannot be read.
int CountExternalIPv4Addresses(void);

// Membership of BUILTIN\Administrators (S-1-5-32-544); group attributes are not consulted.
BOOL TokenGroupsHoldAdministrators(const TOKEN_GROUPS *groups);
// The process token's groups, read at their own size.
BOOL IsAdministrator(void);

// Loads the two strings from the module this code is compiled into and shows
// MessageBoxW(owner, text, caption, style); returns its result.
int ShowTableMessage(HWND owner, UINT textId, UINT captionId, UINT style);
