// A test-only stand-in for wardhost: it takes the service's name and pipe and answers
// every request as told, so that tests see what the logon tile does with answers the
// real service never gives. Service arguments: REPORT_FILE MODE, where MODE is
//   hang        read the request and never answer
//   long N      answer "OK" followed by N - 2 letters x (N UTF-16 units in all)
//   gap MS      answer "OK", then listen again only after MS milliseconds
//   replies R1 R2 ...  answer the first request with R1, the second with R2, and so on;
//               the last one answers every request after it
// After each request it rewrites REPORT_FILE with "requests N".
#include <windows.h>

#include "ward_names.h"

#include <stdio.h>
#include <stdlib.h>

static SERVICE_STATUS_HANDLE g_status;
static HANDLE g_stop;
static wchar_t g_report[MAX_PATH];

static void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

static void WriteReport(unsigned requests)
{
    HANDLE file = CreateFileW(g_report, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    char line[32];
    int length = snprintf(line, sizeof(line), "requests %u\n", requests);
    DWORD written;
    WriteFile(file, line, (DWORD)length, &written, NULL);
    CloseHandle(file);
}

// Completes an overlapped pipe operation unless the service is stopped first.
static BOOL Complete(HANDLE pipe, BOOL started, OVERLAPPED *overlapped, DWORD *bytes)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return GetLastError() == ERROR_PIPE_CONNECTED;
    HANDLE waits[] = {overlapped->hEvent, g_stop};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 &&
           GetOverlappedResult(pipe, overlapped, bytes, FALSE);
}

static void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    const wchar_t *mode = argc > 2 ? argv[2] : L"";
    DWORD number = argc > 3 ? wcstoul(argv[3], NULL, 10) : 0;
    if (argc > 2)
        lstrcpynW(g_report, argv[1], MAX_PATH);
    // Every mode but "replies" has the one answer: "OK", or the N units of "long N".
    DWORD units = lstrcmpW(mode, L"long") == 0 && number >= 2 ? number : 2;
    wchar_t *reply = static_cast<wchar_t *>(calloc(units + 1, sizeof(wchar_t)));
    for (DWORD i = 0; i < units; i++)
        reply[i] = i == 0 ? L'O' : i == 1 ? L'K' : L'x';
    LPWSTR *replies = &reply;
    DWORD replyCount = 1;
    if (lstrcmpW(mode, L"replies") == 0 && argc > 3) {
        replies = argv + 3;
        replyCount = argc - 3;
    }
    const DWORD gapMs = lstrcmpW(mode, L"gap") == 0 ? number : 0;
    g_stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    g_status = RegisterServiceCtrlHandlerExW(WARD_SERVICE_NAME, Handler, NULL);
    HANDLE pipe = CreateNamedPipeW(WARD_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, NULL);
    Report(SERVICE_RUNNING);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    unsigned requests = 0;
    for (;;) {
        DWORD bytes = 0;
        ResetEvent(overlapped.hEvent);
        if (!Complete(pipe, ConnectNamedPipe(pipe, &overlapped), &overlapped, &bytes))
            break;
        char request[520];
        ResetEvent(overlapped.hEvent);
        if (Complete(pipe, ReadFile(pipe, request, sizeof(request), NULL, &overlapped), &overlapped, &bytes)) {
            SecureZeroMemory(request, sizeof(request));
            WriteReport(++requests);
            if (lstrcmpW(mode, L"hang") == 0)
                break;  // the connection stays open, unanswered, until the stop
            const wchar_t *answer = replies[requests <= replyCount ? requests - 1 : replyCount - 1];
            ResetEvent(overlapped.hEvent);
            Complete(pipe, WriteFile(pipe, answer, lstrlenW(answer) * sizeof(wchar_t), NULL, &overlapped),
                     &overlapped, &bytes);
            FlushFileBuffers(pipe);
        }
        DisconnectNamedPipe(pipe);
        // Between two connections the pipe exists but listens to nobody.
        if (gapMs > 0 && WaitForSingleObject(g_stop, gapMs) == WAIT_OBJECT_0)
            break;
    }
    WaitForSingleObject(g_stop, INFINITE);
    CancelIo(pipe);
    CloseHandle(pipe);
    free(reply);
    Report(SERVICE_STOPPED);
}

int main()
{
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(WARD_SERVICE_NAME), ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
