// Process entry, the "install"/"uninstall" console actions and the service entry point
// of wardhost.
#include "wardhost.h"
#include "service_status.h"
#include "time_limits.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    if (!RegisterServiceControlHandler())
        return;
    // A pipe that could not be set up (a squatter holds its name, say) ends the service
    // with that error, so that the service control manager reports a failed start.
    DWORD exitCode = ERROR_SUCCESS;
    if (ReportServiceStatus(SERVICE_START_PENDING, 0, TimeLimits().startWaitHintMs))
        exitCode = PipeServerRun(argc, argv);
    ReportServiceStatus(SERVICE_STOPPED, exitCode, 0);
}

// Installs the service, or, when it exists already (an installer put it there), sets its
// program path again in the quoted form, so that whoever registered it the path cannot be
// read as "C:\\Program.exe". Returns the process exit code: 0 done, 1 failed.
static int InstallService()
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
        return 1;
    }
    path[length + 1] = L'"';
    path[length + 2] = L'\0';
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        wprintf(L"OpenSCManager failed - %d\n", (int)GetLastError());
        return 1;
    }
    int exitCode = 0;
    SC_HANDLE service = CreateServiceW(manager, WARD_SERVICE_NAME, SERVICE_DISPLAY_NAME_W,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path,
                                       /*loadOrderGroup*/ NULL, /*tagId*/ NULL,
                                       /*dependencies*/ L"\0", /*account*/ NULL,
                                       /*password*/ NULL);
    if (service != NULL) {
        wprintf(L"%ls installed.\n", SERVICE_DISPLAY_NAME_W);
        CloseServiceHandle(service);
    } else if (GetLastError() == ERROR_SERVICE_EXISTS) {
        service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_CHANGE_CONFIG);
        if (service != NULL &&
            ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                 path, /*loadOrderGroup*/ NULL, /*tagId*/ NULL,
                                 /*dependencies*/ NULL, /*account*/ NULL, /*password*/ NULL,
                                 /*displayName*/ NULL)) {
            wprintf(L"%ls installed.\n", SERVICE_DISPLAY_NAME_W);
        } else {
            wprintf(L"ChangeServiceConfig failed - %d\n", (int)GetLastError());
            exitCode = 1;
        }
        if (service != NULL)
            CloseServiceHandle(service);
    } else {
        wprintf(L"CreateService failed - %d\n", (int)GetLastError());
        exitCode = 1;
    }
    CloseServiceHandle(manager);
    return exitCode;
}

static void UninstallService()
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        wprintf(L"OpenSCManager failed - %d\n", (int)GetLastError());
        return;
    }
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service == NULL) {
        wprintf(L"OpenService failed - %d\n", (int)GetLastError());
        CloseServiceHandle(manager);
        return;
    }
    if (ControlService(service, SERVICE_CONTROL_STOP, &g_serviceStatus)) {
        wprintf(L"Stopping %ls.", SERVICE_DISPLAY_NAME_W);
        fflush(stdout);
        Sleep(TimeLimits().uninstallPollMs);
        while (QueryServiceStatus(service, &g_serviceStatus) &&
               g_serviceStatus.dwCurrentState == SERVICE_STOP_PENDING) {
            wprintf(L".");
            fflush(stdout);
            Sleep(TimeLimits().uninstallPollMs);
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
        if (_stricmp(word, "install") == 0)
            return InstallService();
        if (_stricmp(word, "uninstall") == 0) {
            UninstallService();
            return 0;
        }
    }

    LogOpen();
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(WARD_SERVICE_NAME), ServiceMain},
        {NULL, NULL},
    };
    if (!StartServiceCtrlDispatcherW(table))
        printf("StartServiceCtrlDispatcher failed - %d\n", (int)GetLastError());
    WSACleanup();
    LogClose();
    return 0;
}
