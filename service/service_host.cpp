// Process entry, the "install"/"uninstall" console actions, the service entry point,
// status reporting and the control handler of wardhost.
#include "wardhost.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

SERVICE_STATUS g_serviceStatus;
SERVICE_STATUS_HANDLE g_statusHandle;
// Created by the pipe server; the control handler on the main thread only signals it.
HANDLE g_stopEvent;

static DWORD g_checkPoint = 1;

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

static void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    g_statusHandle = RegisterServiceCtrlHandlerW(SERVICE_NAME_W, ServiceCtrlHandler);
    if (g_statusHandle == NULL)
        return;
    g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
    // A pipe that could not be set up (a squatter holds its name, say) ends the service
    // with that error, so that the service control manager reports a failed start.
    DWORD exitCode = ERROR_SUCCESS;
    if (ReportServiceStatus(SERVICE_START_PENDING, 0, 3000))
        exitCode = PipeServerRun(argc, argv);
    ReportServiceStatus(SERVICE_STOPPED, exitCode, 0);
}

static void InstallService()
{
    // Quoted: unquoted, a path with a blank ("C:\\Program Files\\...") lets the system
    // start "C:\\Program.exe" as LocalSystem.
    WCHAR path[MAX_PATH + 2];
    path[0] = L'"';
    DWORD length = GetModuleFileNameW(NULL, path + 1, MAX_PATH);
    // A full buffer means the path was cut; installing it would name another file.
    if (length == 0 || length >= MAX_PATH) {
        DWORD error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        wprintf(L"Unable to install %ls - %d\n", SERVICE_DISPLAY_NAME_W, (int)error);
        return;
    }
    path[length + 1] = L'"';
    path[length + 2] = L'\0';
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        wprintf(L"OpenSCManager failed - %d\n", (int)GetLastError());
        return;
    }
    SC_HANDLE service = CreateServiceW(manager, SERVICE_NAME_W, SERVICE_DISPLAY_NAME_W,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path,
                                       /*loadOrderGroup*/ NULL, /*tagId*/ NULL,
                                       /*dependencies*/ L"\0", /*account*/ NULL,
                                       /*password*/ NULL);
    if (service != NULL) {
        wprintf(L"%ls installed.\n", SERVICE_DISPLAY_NAME_W);
        CloseServiceHandle(service);
    } else {
        wprintf(L"CreateService failed - %d\n", (int)GetLastError());
    }
    CloseServiceHandle(manager);
}

static void UninstallService()
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        wprintf(L"OpenSCManager failed - %d\n", (int)GetLastError());
        return;
    }
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME_W, SERVICE_ALL_ACCESS);
    if (service == NULL) {
        wprintf(L"OpenService failed - %d\n", (int)GetLastError());
        CloseServiceHandle(manager);
        return;
    }
    if (ControlService(service, SERVICE_CONTROL_STOP, &g_serviceStatus)) {
        wprintf(L"Stopping %ls.", SERVICE_DISPLAY_NAME_W);
        fflush(stdout);
        Sleep(1000);
        while (QueryServiceStatus(service, &g_serviceStatus) &&
               g_serviceStatus.dwCurrentState == SERVICE_STOP_PENDING) {
            wprintf(L".");
            fflush(stdout);
            Sleep(1000);
        }
        if (g_serviceStatus.dwCurrentState == SERVICE_STOPPED)
            wprintf(L"\n%ls stopped.\n", SERVICE_DISPLAY_NAME_W);
        else
            wprintf(L"\n%ls failed to stop.\n", SERVICE_DISPLAY_NAME_W);
    }
    if (DeleteService(service))
        wprintf(L"%ls uninstalled.\n", SERVICE_DISPLAY_NAME_W);
    else
        wprintf(L"DeleteService failed - %d\n", (int)GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

int WardhostMain(int argc, char **argv)
{
    if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
        const char *word = argv[1] + 1;
        if (_stricmp(word, "install") == 0) {
            InstallService();
            return 0;
        }
        if (_stricmp(word, "uninstall") == 0) {
            UninstallService();
            return 0;
        }
    }

    LogOpen();
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(SERVICE_NAME_W), ServiceMain},
        {NULL, NULL},
    };
    if (!StartServiceCtrlDispatcherW(table))
        printf("StartServiceCtrlDispatcher failed - %d\n", (int)GetLastError());
    WSACleanup();
    LogClose();
    return 0;
}
