// A test-only stand-in for wardhost that takes the service's name and pipe, reads one
// request and never answers it: a hung service, as the logon tile must survive it. It
// writes the size of the request it read to the file named by its first argument.
#include <windows.h>

#include <stdio.h>

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

static void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    if (argc > 1)
        lstrcpynW(g_report, argv[1], MAX_PATH);
    g_stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    g_status = RegisterServiceCtrlHandlerExW(L"wardhost", Handler, NULL);
    HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\wardhost", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 520, 520, 0, NULL);
    Report(SERVICE_RUNNING);
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    HANDLE waits[] = {event, g_stop};
    BOOL connected = ConnectNamedPipe(pipe, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING)
        connected = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
    if (connected) {
        char request[520];
        DWORD read = 0;
        ResetEvent(event);
        if (ReadFile(pipe, request, sizeof(request), &read, &overlapped) ||
            (GetLastError() == ERROR_IO_PENDING && WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 &&
             GetOverlappedResult(pipe, &overlapped, &read, FALSE))) {
            SecureZeroMemory(request, sizeof(request));
            HANDLE file = CreateFileW(g_report, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            char line[32];
            int length = snprintf(line, sizeof(line), "%lu\n", read);
            DWORD written;
            WriteFile(file, line, (DWORD)length, &written, NULL);
            CloseHandle(file);
        }
    }
    // The reply never comes; the connection stays open until the service is stopped.
    WaitForSingleObject(g_stop, INFINITE);
    CancelIo(pipe);
    CloseHandle(pipe);
    Report(SERVICE_STOPPED);
}

int main()
{
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L"wardhost"), ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
