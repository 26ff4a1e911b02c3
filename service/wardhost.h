// Declarations shared by the files of the authentication service.
#pragma once

#include <winsock2.h>
#include <windows.h>

#define SERVICE_NAME_W  L"wardhost"
#define SERVICE_DISPLAY_NAME_W L"Portgate for Vista Service"
#define PIPE_NAME_W     L"\\\\.\\pipe\\wardhost"

// Operation end codes of every operation window.
enum {
    OPERATION_SUCCESS = 1,
    OPERATION_FAILURE = 2,
};

// Pipe requests and replies, in UTF-16 units.
enum {
    REQUEST_MAX_CHARS = 259,
    PIPE_BUFFER_BYTES = 520,
    RESULT_MESSAGE_CHARS = 260,
};

// Private messages of the DE-Zeruzu operation windows.
#define WM_VLAN_CONNECT (WM_USER + 101)
#define WM_VLAN_SOCKET  (WM_USER + 103)

// Cut out of a request in place; a null pointer stands for an empty text.
struct LogonRequest {
    LPCWSTR userName;
    LPCWSTR password;
    LPCWSTR domain;
};

// ---- diagnostic log (log.cpp)
void LogOpen();
void LogPrint(const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void LogClose();
// The fixed text logged where a line would otherwise carry a password.
extern const char LOG_PASSWORD_MASK[];

// ---- service host (service_host.cpp)
extern SERVICE_STATUS g_serviceStatus;
extern SERVICE_STATUS_HANDLE g_statusHandle;
extern HANDLE g_stopEvent;
BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);
void SignalStop();
int WardhostMain(int argc, char **argv);

// ---- pipe server and dispatcher (pipe_server.cpp)
extern WCHAR ResultMessage[RESULT_MESSAGE_CHARS];
void LoadResultMessage(UINT id, ...);
void SetResultMessage(LPCWSTR text);
void PipeServerRun(DWORD argc, LPWSTR *argv);
enum CommandId {
    COMMAND_UNKNOWN = -1,
    COMMAND_LOGON,
    COMMAND_LOGOFF,
    COMMAND_IPRENEW,
    COMMAND_FINDDOMAIN,
};
// Cuts the command word and, for logon, the next three tokens out of request in place.
CommandId ParseRequest(LPWSTR request, LogonRequest *logon);
INT_PTR PipeCommandDispatch(LPWSTR request);
// Formats "OK%s"/"NG%s" with ResultMessage into reply (at most REQUEST_MAX_CHARS + 1
// units); returns the number of units, without terminator.
int FormatReply(INT_PTR result, LPWSTR reply, int replyChars);
// Runs one operation as a modal, never-shown dialog from template IDD_OPERATION.
INT_PTR RunOperationWindow(DLGPROC procedure, LPARAM parameter);

// ---- operations; each is a dialog procedure for RunOperationWindow
INT_PTR CALLBACK VLANLogonDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VLANLogoffDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IpRenewDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FindDomainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
