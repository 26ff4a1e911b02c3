// Declarations shared by the files of the authentication service.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "ward_names.h"

#define SERVICE_DISPLAY_NAME_W L"Portgate for Vista Service"

// Operation end codes of every operation window.
enum {
    OPERATION_SUCCESS = 1,
    OPERATION_FAILURE = 2,
};

// Pipe requests and replies, in UTF-16 units.
enum {
    REQUEST_MAX_CHARS = 259,
    PIPE_BUFFER_BYTES = 520,
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
int WardhostMain(int argc, char **argv);

// ---- pipe server and dispatcher (pipe_server.cpp)
// Serves the pipe until the stop event; ERROR_SUCCESS then, else the error of the set-up
// step that failed (logged with its call), for the service's exit code.
DWORD PipeServerRun(DWORD argc, LPWSTR *argv);
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

// ---- operations; each is a dialog procedure for RunOperationWindow
INT_PTR CALLBACK VLANLogonDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VLANLogoffDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IpRenewDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FindDomainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- address renewal and domain-controller search (ip_renew.cpp, find_domain.cpp)
// 0 when every adapter was released and then renewed, else the failing call's error.
DWORD RenewAllAdapters();
// True when a domain controller of the primary domain answered one enumeration.
bool FindDomainController();

// ---- DE-Zeruzu dialogues (vlan_dialogue.cpp, vlan_logon.cpp, vlan_logoff.cpp)
enum {
    VLAN_SERVER_CHARS = 260,        // server address buffers, in UTF-16 units
    VLAN_TEXT_BYTES = 260,          // ANSI buffers: received text, reply line, copies
    VLAN_REPLY_MAX_BYTES = VLAN_TEXT_BYTES - 3,  // room left for CR LF and terminator
    VLAN_TIMEOUT_TIMER_ID = 1,
};

// One row of a prompt table: the first row whose pattern occurs in a received text is
// acted on; its answer (if any) is sent with CR LF, then its handler (if any) is called.
// The handler finds its dialogue in the window's user data.
typedef void (*PromptHandler)(HWND window, const char *text);
enum PromptAnswer {
    ANSWER_NONE,
    ANSWER_TEXT,       // the row's own text
    ANSWER_USER_NAME,  // the request's words, as the dialogue converted them
    ANSWER_PASSWORD,
};
struct PromptRule {
    const char *pattern;
    PromptAnswer answer;
    const char *text;
    PromptHandler handler;
};
extern const PromptRule VLANLogonPrompts[];
extern const int VLAN_LOGON_PROMPT_ROWS;
extern const PromptRule VLANLogoffPrompts[];
extern const int VLAN_LOGOFF_PROMPT_ROWS;

// One dialogue's connection to its DE-Zeruzu, kept in the dialogue's window context.
struct VLANConnection {
    SOCKET socket;        // INVALID_SOCKET when none is open
    ULONGLONG deadline;   // GetTickCount64() at which the dialogue's time is up
    BOOL serverClosed;    // set while the data left after the server's close is analysed
};
void VLANConnectionInit(VLANConnection *connection);

// The row acted on for text, or NULL; pure.
const PromptRule *FindPromptRule(const PromptRule *table, int rows, const char *text);
// Sends "reply\r\n" in one call and pauses; FALSE when the line does not fit or the
// server has already closed (prompts in what it left are not answered).
BOOL SendPromptReply(VLANConnection *connection, const char *reply);
// Converts text (NULL = empty) into buffer. On a refusal the buffer is emptied: when the
// result does not fit a reply line of VLAN_REPLY_MAX_BYTES, or when a character has no
// exact equivalent in the code page (no best fit, no default character).
enum DialogueTextResult {
    DIALOGUE_TEXT_OK,
    DIALOGUE_TEXT_TOO_LONG,
    DIALOGUE_TEXT_NOT_CONVERTIBLE,
};
DialogueTextResult ConvertToDialogueText(UINT codePage, LPCWSTR text, char *buffer,
                                         int bufferBytes);
// The number after "Successfully moved to group"/"vlan" in text (0 when there is none).
int ReadGroupNumber(const char *text);

// Rewrites "*" fields of a dotted server template with the bytes of localAddress (four
// bytes in network order); NULL leaves the text as it is. 1 when rewritten, else 0.
int ExpandServerTemplateWith(LPWSTR server, int bufferBytes, const BYTE *localAddress);
// The same with the workstation's own address: the first IPv4 address of an adapter that
// is up, other than 0/8, 127/8 and 169.254/16. Without one the text is left as it is (its
// "*" then makes the connection step refuse it) and 0 returned.
int ExpandServerTemplate(LPWSTR server, int bufferBytes);
// That address, in network order; FALSE when there is none.
BOOL FindOwnIPv4Address(BYTE address[4]);

// What a server address text (ANSI) is: a strict dotted quad (*address set), a host name
// for the resolver (it holds a character other than digits, dots and "0x" prefixes), or
// refused (a numeric short form such as "127.1", "0x7f.0.0.1" or "3232235777", which the
// resolver would read as another address, or a character no host name has).
enum ServerAddressKind {
    SERVER_ADDRESS_NUMERIC,
    SERVER_ADDRESS_NAME,
    SERVER_ADDRESS_REFUSED,
};
ServerAddressKind ClassifyServerAddress(const char *text, IN_ADDR *address);
// A server's TCP port from the product key (subkey NULL for the key itself): a REG_DWORD
// of PORT_MIN to PORT_MAX. Anything else (another type, 0, beyond 65535) reads as 0, not
// configured. Returns the registry result of the read.
LONG ReadServerPort(LPCWSTR subkey, LPCWSTR name, DWORD *port);

// How one dialogue names its server in the log and in its connect-failure message.
struct VLANServerTexts {
    const char *addressLine;
    const char *portLine;
    UINT cannotConnectId;
};
// Expands, resolves, connects (resolution and connection bounded by the dialogue's
// time-out, which starts here) and asks for FD_READ/FD_CLOSE as WM_VLAN_SOCKET. An
// address that does not convert to the ANSI code page fails like one that does not
// resolve. On failure the result message is set, the socket is closed and FALSE returned;
// the caller ends the window with 2.
BOOL VLANSocketConnect(HWND window, LPWSTR server, DWORD port, VLANConnection *connection,
                       const VLANServerTexts *texts);
// Receives once into buffer (VLAN_TEXT_BYTES + 1, terminated); the recv result, with
// *error set to the error of this call.
int VLANSocketReceive(SOCKET socket, char *buffer, int *error);
void VLANSocketClose(VLANConnection *connection);
// Ends the window with 2 and the "recv()" form of the socket error message.
void VLANDialogueFail(HWND window, VLANConnection *connection, int error);
// The server closed the connection: analyses any text still unread, then, unless that
// ended the dialogue, fails it as VLANDialogueFail does.
void VLANDialogueClosed(HWND window, VLANConnection *connection, int closeError,
                        PromptHandler analyze);
// The dialogue's time-out timer fired: fails it with WSAETIMEDOUT.
void VLANDialogueTimedOut(HWND window, VLANConnection *connection);
// Fails the dialogue as VLANDialogueTimedOut does, and returns TRUE, once its time is up.
BOOL VLANDialogueOutOfTime(HWND window, VLANConnection *connection);

// ---- "wardhost -check" (self_check.cpp)
enum {
    SELF_CHECK_NOT_ASKED = -1,  // the command line is not "-check"/"/check"
    SELF_CHECK_HOLDS = 0,
    SELF_CHECK_FAULT = 1,
    SELF_CHECK_USAGE = 2,
};
// Runs every check and prints one line each; the process exit code, or NOT_ASKED.
int SelfCheckCommand(int argc, char **argv);
