// The named-pipe command server: one instance, one request and one reply per connection,
// each request dispatched to an operation that runs as a modal, never-shown dialog.
#include "wardhost.h"
#include "operation_window.h"
#include "service_status.h"
#include "time_limits.h"

#include <sddl.h>

// Only the clients' accounts: the logon screen (SYSTEM), administrators and interactive
// users get generic read and write, which is what CallNamedPipeW opens with; service
// accounts, batch and network logons get nothing, so none of them can hold the only
// instance. Only SYSTEM and Administrators get WRITE_DAC and WRITE_OWNER. Generic write
// includes the right to create an instance, but the one-instance limit refuses any second
// instance while the service holds the pipe.
static const WCHAR PIPE_SDDL[] =
    L"D:P(D;;GA;;;NU)(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012019f;;;IU)";

// Indexed by CommandId. A NULL procedure means the operation is not available and the
// request is answered "NG" without running anything.
static const struct {
    LPCWSTR word;
    DLGPROC procedure;
} COMMANDS[] = {
    {L"logon", VLANLogonDlgProc},
    {L"logoff", VLANLogoffDlgProc},
    {L"iprenew", IpRenewDlgProc},
    {L"finddomain", FindDomainDlgProc},
};

enum WaitOutcome { IO_COMPLETED, IO_STOPPED, IO_TIMED_OUT };

int FormatReply(INT_PTR result, LPWSTR reply, int replyChars)
{
    // The clients read at most 520 bytes: a long message is shortened to fit.
    int room = replyChars - 1;
    if (room > REQUEST_MAX_CHARS + 1)
        room = REQUEST_MAX_CHARS + 1;
    if (room < 2)
        return 0;
    lstrcpyW(reply, result == OPERATION_SUCCESS ? L"OK" : L"NG");
    lstrcpynW(reply + 2, ResultMessage, room - 2 + 1);
    return lstrlenW(reply);
}

// Blank-delimited tokens, cut out in place; a run of blanks is one delimiter.
static LPWSTR NextToken(LPWSTR *cursor)
{
    LPWSTR p = *cursor;
    while (*p == L' ')
        p++;
    if (*p == L'\0') {
        *cursor = p;
        return NULL;
    }
    LPWSTR start = p;
    while (*p != L'\0' && *p != L' ')
        p++;
    if (*p != L'\0')
        *p++ = L'\0';
    *cursor = p;
    return start;
}

CommandId ParseRequest(LPWSTR request, LogonRequest *logon)
{
    logon->userName = logon->password = logon->domain = NULL;
    LPWSTR cursor = request;
    LPWSTR word = NextToken(&cursor);
    if (word == NULL)
        return COMMAND_UNKNOWN;
    for (int id = 0; id < (int)ARRAYSIZE(COMMANDS); id++) {
        if (CompareStringOrdinal(word, -1, COMMANDS[id].word, -1, /*ignoreCase*/ TRUE) !=
            CSTR_EQUAL)
            continue;
        if (id == COMMAND_LOGON) {
            logon->userName = NextToken(&cursor);
            logon->password = NextToken(&cursor);
            logon->domain = NextToken(&cursor);
        }
        return static_cast<CommandId>(id);
    }
    return COMMAND_UNKNOWN;
}

INT_PTR PipeCommandDispatch(LPWSTR request)
{
    SetResultMessage(L"");
    LogonRequest logon;
    CommandId id = ParseRequest(request, &logon);
    if (id == COMMAND_UNKNOWN || COMMANDS[id].procedure == NULL)
        return OPERATION_FAILURE;
    // Every operation but logon gets an all-null request.
    INT_PTR result = RunOperationWindow(COMMANDS[id].procedure, reinterpret_cast<LPARAM>(&logon));
    return result == OPERATION_SUCCESS ? OPERATION_SUCCESS : OPERATION_FAILURE;
}

// Waits for the overlapped operation in `overlapped`, and for the stop event too when
// stoppable. On a stop or a time-out the I/O is cancelled and waited for, so that no
// buffer is written after the caller moves on.
static WaitOutcome WaitForPipeIo(HANDLE pipe, OVERLAPPED *overlapped, DWORD timeout,
                                 BOOL stoppable = TRUE)
{
    HANDLE events[2] = {StopEvent(), overlapped->hEvent};
    DWORD wait;
    if (stoppable)
        wait = WaitForMultipleObjects(2, events, FALSE, timeout);
    else if (WaitForSingleObject(overlapped->hEvent, timeout) == WAIT_OBJECT_0)
        wait = WAIT_OBJECT_0 + 1;
    else
        wait = WAIT_TIMEOUT;
    if (wait == WAIT_OBJECT_0 + 1)
        return IO_COMPLETED;
    CancelIo(pipe);
    DWORD ignored;
    GetOverlappedResult(pipe, overlapped, &ignored, TRUE);
    return wait == WAIT_TIMEOUT ? IO_TIMED_OUT : IO_STOPPED;
}

// The connect, read and write calls reset the event themselves when they start.
static void StartOverlapped(OVERLAPPED *overlapped, HANDLE ioEvent)
{
    ZeroMemory(overlapped, sizeof(*overlapped));
    overlapped->hEvent = ioEvent;
}

// Time left until deadline (GetTickCount64), 0 once it has passed.
static DWORD TimeLeft(ULONGLONG deadline)
{
    ULONGLONG now = GetTickCount64();
    return now < deadline ? (DWORD)(deadline - now) : 0;
}

// Reads one request message into request (PIPE_BUFFER_BYTES + one spare unit, zeroed),
// all of it within the request's time limit from the connection, whatever its size: the
// clients write at once, and one that connects and then stalls would hold the only
// instance and keep every other client out. A client that has not sent it whole by then
// is dropped (IO_TIMED_OUT). *valid is FALSE for a message that can't be a request:
// longer than REQUEST_MAX_CHARS (the rest is read and discarded so the reply is not
// mistaken for part of it) or of an odd byte count.
static WaitOutcome ReadRequest(HANDLE pipe, HANDLE ioEvent, LPWSTR request, BOOL *valid)
{
    ULONGLONG deadline = GetTickCount64() + TimeLimits().pipeRequestMs;
    OVERLAPPED overlapped;
    DWORD bytes = 0;
    BYTE *buffer = reinterpret_cast<BYTE *>(request);
    *valid = TRUE;
    ZeroMemory(request, PIPE_BUFFER_BYTES + sizeof(WCHAR));
    StartOverlapped(&overlapped, ioEvent);
    if (!ReadFile(pipe, buffer, PIPE_BUFFER_BYTES, NULL, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        WaitOutcome outcome = WaitForPipeIo(pipe, &overlapped, TimeLeft(deadline));
        if (outcome != IO_COMPLETED) {
            SecureZeroMemory(request, PIPE_BUFFER_BYTES + sizeof(WCHAR));
            return outcome;
        }
    }
    BOOL done = GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error != ERROR_MORE_DATA) {
        // Unreadable: the empty buffer counts as an unknown request.
        ZeroMemory(request, PIPE_BUFFER_BYTES + sizeof(WCHAR));
        return IO_COMPLETED;
    }
    // The rest of an over-long request may hold a password: wiped like the request.
    BYTE discard[PIPE_BUFFER_BYTES];
    WaitOutcome outcome = IO_COMPLETED;
    while (!done && error == ERROR_MORE_DATA) {
        *valid = FALSE;
        if (TimeLeft(deadline) == 0) {
            outcome = IO_TIMED_OUT;
            break;
        }
        StartOverlapped(&overlapped, ioEvent);
        if (!ReadFile(pipe, discard, sizeof(discard), NULL, &overlapped) &&
            GetLastError() == ERROR_IO_PENDING) {
            outcome = WaitForPipeIo(pipe, &overlapped, TimeLeft(deadline));
            if (outcome != IO_COMPLETED)
                break;
        }
        done = GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
        error = done ? ERROR_SUCCESS : GetLastError();
    }
    SecureZeroMemory(discard, sizeof(discard));
    // A full buffer is a request only when its last unit is a terminator.
    if (bytes % sizeof(WCHAR) != 0 ||
        (bytes == PIPE_BUFFER_BYTES && request[REQUEST_MAX_CHARS] != L'\0'))
        *valid = FALSE;
    if (!*valid || outcome != IO_COMPLETED)
        SecureZeroMemory(request, PIPE_BUFFER_BYTES + sizeof(WCHAR));
    return outcome;
}

static WaitOutcome WriteReply(HANDLE pipe, HANDLE ioEvent, LPCWSTR reply, int chars)
{
    OVERLAPPED overlapped;
    StartOverlapped(&overlapped, ioEvent);
    // A stop that arrived during the operation must not cancel its reply; the client
    // gets it or the time-out ends the write, and the stop is honoured afterwards. A
    // client waiting for its reply reads it at once; the bound only ends a stalled one.
    if (!WriteFile(pipe, reply, chars * sizeof(WCHAR), NULL, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING)
        return WaitForPipeIo(pipe, &overlapped, TimeLimits().pipeReplyMs, /*stoppable*/ FALSE);
    return IO_COMPLETED;
}

// Puts the instance back to listening; TRUE while the connection is pending. A client
// that connected before this call makes it fail with ERROR_PIPE_CONNECTED, which goes
// straight on to the read like any other immediate outcome.
static BOOL StartListening(HANDLE pipe, HANDLE ioEvent, OVERLAPPED *connect)
{
    StartOverlapped(connect, ioEvent);
    return !ConnectNamedPipe(pipe, connect) && GetLastError() == ERROR_IO_PENDING;
}

// Serves one client from its connection (started by StartListening, *listening TRUE while
// pending) to the disconnect, and starts listening for the next; FALSE when the server
// must stop.
static BOOL ServeOneClient(HANDLE pipe, HANDLE ioEvent, OVERLAPPED *connect, BOOL *listening)
{
    if (*listening) {
        *listening = FALSE;  // cancelled and waited for unless it completed
        if (WaitForPipeIo(pipe, connect, INFINITE) != IO_COMPLETED)
            return FALSE;
    }

    WCHAR request[PIPE_BUFFER_BYTES / sizeof(WCHAR) + 1];
    BOOL valid;
    WaitOutcome outcome = ReadRequest(pipe, ioEvent, request, &valid);
    if (outcome == IO_COMPLETED) {
        INT_PTR result = OPERATION_FAILURE;
        if (valid) {
            result = PipeCommandDispatch(request);
        } else {
            SetResultMessage(L"");
        }
        SecureZeroMemory(request, sizeof(request));  // it may have carried a password
        WCHAR reply[REQUEST_MAX_CHARS + 2];
        int chars = FormatReply(result, reply, ARRAYSIZE(reply));
        WriteReply(pipe, ioEvent, reply, chars);
    }
    SecureZeroMemory(request, sizeof(request));
    if (outcome == IO_STOPPED)
        return FALSE;
    DisconnectNamedPipe(pipe);
    // With one instance, a client that calls without waiting is refused until the next
    // connect is issued: issue it first, and only then look for a stop requested while
    // the operation ran.
    *listening = StartListening(pipe, ioEvent, connect);
    return WaitForSingleObject(StopEvent(), 0) != WAIT_OBJECT_0;
}

// Logs a set-up step that failed and gives its error, for the service's exit code.
static DWORD SetUpFailed(const char *call)
{
    DWORD error = GetLastError();
    if (error == ERROR_SUCCESS)
        error = ERROR_GEN_FAILURE;  // the exit code must say that the start failed
    LogPrint("  %s error = %lu", call, (unsigned long)error);
    return error;
}

DWORD PipeServerRun(DWORD argc, LPWSTR *argv)
{
    (void)argc;
    (void)argv;
    HANDLE ioEvent = NULL;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD exitCode = ERROR_SUCCESS;

    if (!ReportServiceStatus(SERVICE_START_PENDING, 0, TimeLimits().startWaitHintMs)) {
        exitCode = SetUpFailed("SetServiceStatus()");
        goto cleanup;
    }
    if (!CreateStopEvent()) {
        exitCode = SetUpFailed("CreateEventW()");
        goto cleanup;
    }
    ioEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (ioEvent == NULL) {
        exitCode = SetUpFailed("CreateEventW()");
        goto cleanup;
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PIPE_SDDL, SDDL_REVISION_1,
                                                              &descriptor, NULL)) {
        exitCode = SetUpFailed("ConvertStringSecurityDescriptorToSecurityDescriptorW()");
        goto cleanup;
    }
    {
        // Not inheritable: no process the service starts may hold the instance. The
        // first-instance flag refuses a pipe of this name that someone else created while
        // the service was down, instead of serving beside it.
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor,
                                          /*inheritHandle*/ FALSE};
        pipe = CreateNamedPipeW(WARD_PIPE_NAME,
                                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                    FILE_FLAG_FIRST_PIPE_INSTANCE,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                    PIPE_REJECT_REMOTE_CLIENTS,
                                /*maxInstances*/ 1, /*outBuffer*/ 260, /*inBuffer*/ 260,
                                /*defaultTimeout*/ TimeLimits().pipeDefaultWaitMs, &attributes);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        exitCode = SetUpFailed("CreateNamedPipeW()");
        goto cleanup;
    }
    {
        // Where the first-instance flag is not honoured, the instance count tells the
        // same: ours must be the only one.
        DWORD instances = 0;
        if (!GetNamedPipeHandleStateW(pipe, NULL, &instances, NULL, NULL, NULL, 0)) {
            exitCode = SetUpFailed("GetNamedPipeHandleStateW()");
            goto cleanup;
        }
        if (instances != 1) {
            SetLastError(ERROR_ACCESS_DENIED);
            exitCode = SetUpFailed("CreateNamedPipeW() made a second instance;");
            goto cleanup;
        }
    }
    if (!ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
        exitCode = SetUpFailed("SetServiceStatus()");
        goto cleanup;
    }

    {
        OVERLAPPED connect;
        BOOL listening = StartListening(pipe, ioEvent, &connect);
        while (ServeOneClient(pipe, ioEvent, &connect, &listening)) {
        }
        if (listening) {
            CancelIo(pipe);
            DWORD ignored;
            GetOverlappedResult(pipe, &connect, &ignored, TRUE);
        }
    }

cleanup:
    if (pipe != INVALID_HANDLE_VALUE)
        CloseHandle(pipe);
    CloseStopEvent();
    if (ioEvent != NULL)
        CloseHandle(ioEvent);
    if (descriptor != NULL)
        LocalFree(descriptor);
    return exitCode;
}
