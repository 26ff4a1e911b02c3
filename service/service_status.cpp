// Status reporting to the service control manager, the control handler and the stop
// event it signals. The handler runs on the main thread, everything else on the service
// thread; they share the record and the event handle only.
#include "service_status.h"
#include "ward_names.h"

SERVICE_STATUS g_serviceStatus;
static SERVICE_STATUS_HANDLE g_statusHandle;
static DWORD g_checkPoint = 1;
// Written before the pipe server serves and cleared before it is closed, so the handler
// signals either a live event or none.
static HANDLE g_stopEvent;

BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_serviceStatus.dwCurrentState = state;
    g_serviceStatus.dwWin32ExitCode = exitCode;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
    g_serviceStatus.dwWaitHint = waitHint;
    g_serviceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        g_serviceStatus.dwCheckPoint = 0;
    else
        g_serviceStatus.dwCheckPoint = g_checkPoint++;
    return SetServiceStatus(g_statusHandle, &g_serviceStatus);
}

BOOL CreateStopEvent()
{
    g_stopEvent = CreateEventW(NULL, /*manualReset*/ TRUE, /*initialState*/ FALSE, NULL);
    return g_stopEvent != NULL;
}

HANDLE StopEvent()
{
    return g_stopEvent;
}

void CloseStopEvent()
{
    HANDLE stopEvent = g_stopEvent;
    g_stopEvent = NULL;
    if (stopEvent != NULL)
        CloseHandle(stopEvent);
}

void SignalStop()
{
    if (g_stopEvent != NULL)
        SetEvent(g_stopEvent);
}

static void WINAPI ServiceCtrlHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
        SignalStop();
        return;
    }
    ReportServiceStatus(g_serviceStatus.dwCurrentState, 0, 0);
}

BOOL RegisterServiceControlHandler()
{
    g_statusHandle = RegisterServiceCtrlHandlerW(WARD_SERVICE_NAME, ServiceCtrlHandler);
    if (g_statusHandle == NULL)
        return FALSE;
    g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
    return TRUE;
}
