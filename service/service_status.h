// What the service tells the service control manager, and the stop event through which
// the control handler ends the pipe server.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The one status record of the process; "-uninstall" reuses it for its status queries.
extern SERVICE_STATUS g_serviceStatus;

// Registers the control handler under the service's name; FALSE when that failed.
BOOL RegisterServiceControlHandler();
BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);

// The stop event, created by the pipe server and closed by it when it ends; NULL outside.
BOOL CreateStopEvent();
HANDLE StopEvent();
void CloseStopEvent();
void SignalStop();
