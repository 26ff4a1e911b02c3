// The "logon" operation: the DE-Zeruzu logon dialogue, answered from a prompt table, and
// the state values recorded after the switch accepted the user.
#include "wardhost.h"
#include "operation_window.h"
#include "product_key.h"
#include "wardhost_res.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static void VLANLogonAnalyzeGroup(HWND window, const char *text);
static void VLANLogonAnalyzeSuccess(HWND window, const char *text);
static void VLANLogonAnalyzeFail(HWND window, const char *text);

// Rows 1 to 4 answer with the request's ANSI copies, which live in the window's context.
const PromptRule VLANLogonPrompts[] = {
    /* 0 */ {"Connect(1) / Disconnect(2):", ANSWER_TEXT, "1", NULL},
    /* 1 */ {"Login Name?", ANSWER_USER_NAME, NULL, NULL},
    /* 2 */ {"User ID:", ANSWER_USER_NAME, NULL, NULL},
    /* 3 */ {"Password?", ANSWER_PASSWORD, NULL, NULL},
    /* 4 */ {"Password:", ANSWER_PASSWORD, NULL, NULL},
    /* 5 */ {"Successfully moved to group", ANSWER_NONE, NULL, VLANLogonAnalyzeGroup},
    /* 6 */ {"Successfully moved to vlan", ANSWER_NONE, NULL, VLANLogonAnalyzeGroup},
    /* 7 */ {"Authentication Succeeded", ANSWER_NONE, NULL, VLANLogonAnalyzeSuccess},
    /* 8 */ {"Authentication Failed", ANSWER_NONE, NULL, VLANLogonAnalyzeFail},
};
const int VLAN_LOGON_PROMPT_ROWS = ARRAYSIZE(VLANLogonPrompts);

// One logon window's state, in its user data from WM_INITDIALOG to WM_DESTROY.
struct LogonDialogue {
    const LogonRequest *request;
    VLANConnection connection;
    char *userName;  // ANSI copies, from VLANLogonDlgInit to VLANLogonDlgExit
    char *password;
};

static const VLANServerTexts LOGON_SERVER_TEXTS = {
    "  VLAN Logon server IP adress = %s",
    "  VLAN Logon server port no   = %d",
    IDS_CANNOT_CONNECT_LOGON,
};

// Logs a text received from the switch with every occurrence of the password replaced by
// the mask: a switch (or anyone between) may echo what was typed.
static void LogReceivedText(const LogonDialogue *dialogue, const char *text)
{
    const char *secret = dialogue->password;
    size_t secretLength = secret != NULL ? strlen(secret) : 0;
    if (secretLength == 0 || strstr(text, secret) == NULL) {
        LogPrint("  %s", text);
        return;
    }
    // Each occurrence of at least one byte becomes the mask: the result is at most
    // maskLength times the text's length, cut to the buffer otherwise.
    const size_t maskLength = strlen(LOG_PASSWORD_MASK);
    char masked[VLAN_TEXT_BYTES * 8 + 1];
    size_t used = 0;
    for (const char *p = text; *p != '\0';) {
        if (strncmp(p, secret, secretLength) == 0) {
            memcpy(masked + used, LOG_PASSWORD_MASK, maskLength);
            used += maskLength;
            p += secretLength;
        } else {
            masked[used++] = *p++;
        }
        if (used + maskLength >= sizeof(masked))
            break;
    }
    masked[used] = '\0';
    LogPrint("  %s", masked);
    SecureZeroMemory(masked, sizeof(masked));
}

static LogonDialogue *DialogueOf(HWND window)
{
    return static_cast<LogonDialogue *>(OperationContextOf(window));
}

static char *CopyToHeap(const char *text)
{
    size_t bytes = strlen(text) + 1;
    char *copy = static_cast<char *>(malloc(bytes));
    if (copy != NULL)
        memcpy(copy, text, bytes);
    return copy;
}

static void FreeSecret(char **copy)
{
    if (*copy == NULL)
        return;
    SecureZeroMemory(*copy, strlen(*copy));
    free(*copy);
    *copy = NULL;
}

static void VLANLogonDlgInit(HWND window)
{
    LogPrint("VLANLogonDlgInit() --- start ---");
    LogonDialogue *dialogue = DialogueOf(window);
    const LogonRequest *request = dialogue->request;
    SetTextFromTable(window, IDS_LOGON_CAPTION);

    char text[VLAN_TEXT_BYTES];
    DialogueTextResult name = ConvertToDialogueText(CP_ACP, request->userName, text, sizeof(text));
    dialogue->userName = CopyToHeap(text);
    LogPrint("  user name: %s", dialogue->userName != NULL ? dialogue->userName : "");

    DialogueTextResult password =
        ConvertToDialogueText(CP_ACP, request->password, text, sizeof(text));
    dialogue->password = CopyToHeap(text);
    SecureZeroMemory(text, sizeof(text));
    LogPrint("  password: %s", LOG_PASSWORD_MASK);

    SetOperationText(window, IDS_SENDING_REQUEST);
    // Refused before any connection: nothing is cut, altered and sent.
    if (name == DIALOGUE_TEXT_NOT_CONVERTIBLE || password == DIALOGUE_TEXT_NOT_CONVERTIBLE) {
        LogPrint("  user name or password does not convert exactly to code page %u", GetACP());
        LoadResultMessage(IDS_CREDENTIALS_NOT_CONVERTIBLE);
        EndDialog(window, OPERATION_FAILURE);
    } else if (name != DIALOGUE_TEXT_OK || password != DIALOGUE_TEXT_OK ||
               dialogue->userName == NULL || dialogue->password == NULL) {
        LogPrint("  user name or password does not fit a reply line");
        LoadResultMessage(IDS_CREDENTIALS_TOO_LONG);
        EndDialog(window, OPERATION_FAILURE);
    } else {
        PostMessageW(window, WM_VLAN_CONNECT, 0, 0);
    }
    LogPrint("VLANLogonDlgInit() --- end ---");
}

static void VLANLogonConnectStart(HWND window)
{
    LogPrint("VLANLogonConnectStart() --- start ---");
    WCHAR server[VLAN_SERVER_CHARS] = L"";
    DWORD port = 0;
    // Read as the configuration tool reads it, so that both see the same server.
    ReadConfigString(NULL, VALUE_VLAN_LOGON_SERVER, server, CONFIG_SERVER_CHARS);
    ReadServerPort(NULL, VALUE_VLAN_LOGON_PORT, &port);
    if (server[0] == L'\0' || port == 0) {
        LogPrint("  No configuration VLAN logon server.");
        LoadResultMessage(IDS_NO_LOGON_SERVER);
        EndDialog(window, OPERATION_FAILURE);
        return;
    }
    if (!VLANSocketConnect(window, server, port, &DialogueOf(window)->connection,
                           &LOGON_SERVER_TEXTS)) {
        EndDialog(window, OPERATION_FAILURE);
        return;
    }
    LogPrint("VLANLogonConnectStart() --- end ---");
}

// The text a row answers with in this dialogue, or NULL.
static const char *AnswerOf(const PromptRule *rule, const LogonDialogue *dialogue)
{
    switch (rule->answer) {
    case ANSWER_TEXT:
        return rule->text;
    case ANSWER_USER_NAME:
        return dialogue->userName;
    case ANSWER_PASSWORD:
        return dialogue->password;
    default:
        return NULL;
    }
}

static void VLANLogonAnalyze(HWND window, const char *text)
{
    LogPrint("VLANLogonAnalyze() --- start ---");
    LogonDialogue *dialogue = DialogueOf(window);
    const PromptRule *rule = FindPromptRule(VLANLogonPrompts, VLAN_LOGON_PROMPT_ROWS, text);
    if (rule != NULL) {
        LogReceivedText(dialogue, text);
        const char *answer = AnswerOf(rule, dialogue);
        if (answer != NULL)
            SendPromptReply(&dialogue->connection, answer);
        if (rule->handler != NULL)
            rule->handler(window, text);
    }
    LogPrint("VLANLogonAnalyze() --- end ---");
}

static void VLANLogonReceiveData(HWND window)
{
    LogPrint("VLANLogonReceiveData() --- start ---");
    VLANConnection *connection = &DialogueOf(window)->connection;
    if (VLANDialogueOutOfTime(window, connection))
        return;
    char text[VLAN_TEXT_BYTES + 1];
    int error;
    int received = VLANSocketReceive(connection->socket, text, &error);
    if (received == 0) {
        VLANDialogueFail(window, connection, error);
        return;
    }
    VLANLogonAnalyze(window, text);
    LogPrint("VLANLogonReceiveData() --- end ---");
}

static void VLANLogonAnalyzeGroup(HWND window, const char *text)
{
    LogPrint("VLANLogonAnalyze() --- start ---");
    LogReceivedText(DialogueOf(window), text);
    if (strstr(text, "Successfully moved to group") != NULL ||
        strstr(text, "Successfully moved to vlan") != NULL)
        WriteConfigDword(NULL, VALUE_GROUP_NUMBER, (DWORD)ReadGroupNumber(text), FALSE);
    VLANLogonAnalyzeSuccess(window, text);
    LogPrint("VLANLogonAnalyze() --- end ---");
}

// "date time" of now in the service account's default formats.
static void FormatLogonTimestamp(LPWSTR text, int chars)
{
    WCHAR date[80], clock[80];
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, NULL, NULL, date, ARRAYSIZE(date)) == 0)
        date[0] = L'\0';
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, NULL, NULL, clock, ARRAYSIZE(clock)) == 0)
        clock[0] = L'\0';
    _snwprintf(text, chars, L"%ls %ls", date, clock);
    text[chars - 1] = L'\0';
}

// Seconds since 1970-01-01 00:00 UTC, kept in 32 bits as the state value holds them.
static DWORD UnixSecondsNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (DWORD)((ticks - 116444736000000000ULL) / 10000000ULL);
}

static void VLANLogonAnalyzeSuccess(HWND window, const char *text)
{
    (void)text;
    LogPrint("VLANLogonAnalyzeSuccess() --- start ---");
    LogonDialogue *dialogue = DialogueOf(window);
    const LogonRequest *request = dialogue->request;
    LPCWSTR userName = request->userName != NULL ? request->userName : L"";
    LPCWSTR domain = request->domain != NULL ? request->domain : L"";

    // Failed writes are not reported: the switch has moved the port either way.
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
        LONG written = RegSetValueExW(key, VALUE_DEFAULT_USER_NAME, 0, REG_SZ,
                                      reinterpret_cast<const BYTE *>(userName),
                                      (DWORD)(lstrlenW(userName) * sizeof(WCHAR)));
        if (written == ERROR_SUCCESS && domain[0] != L'\0')
            RegSetValueExW(key, VALUE_DEFAULT_DOMAIN_NAME, 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(domain),
                           (DWORD)(lstrlenW(domain) * sizeof(WCHAR)));
        RegCloseKey(key);
    }
    WriteConfigDword(NULL, VALUE_LOGON_DATE, UnixSecondsNow(), FALSE);
    WriteConfigDword(NULL, VALUE_VLAN_LOGON, VLAN_LOGON_STATE_ON, FALSE);

    if (domain[0] != L'\0') {
        WCHAR computer[260];
        DWORD chars = ARRAYSIZE(computer);
        if (!GetComputerNameW(computer, &chars))
            computer[0] = L'\0';
        if (lstrcmpiW(domain, computer) != 0) {
            WCHAR stamp[RESULT_MESSAGE_CHARS];
            FormatLogonTimestamp(stamp, ARRAYSIZE(stamp));
            WriteConfigString(SUBKEY_DOMAIN_LIST, domain, stamp, /*withTerminator*/ FALSE,
                              /*create*/ TRUE);
        }
    }

    VLANSocketClose(&dialogue->connection);
    EndDialog(window, OPERATION_SUCCESS);
    LogPrint("VLANLogonAnalyzeSuccess() --- end ---");
}

static void VLANLogonAnalyzeFail(HWND window, const char *text)
{
    (void)text;
    LogPrint("VLANLogonAnalyzeFail() --- start ---");
    VLANSocketClose(&DialogueOf(window)->connection);
    LoadResultMessage(IDS_AUTH_FAILED);
    EndDialog(window, OPERATION_FAILURE);
    LogPrint("VLANLogonAnalyzeFail() --- end ---");
}

static void VLANLogonDlgExit(LogonDialogue *dialogue)
{
    LogPrint("VLANLogonDlgExit() --- start ---");
    FreeSecret(&dialogue->userName);
    FreeSecret(&dialogue->password);
    // Every ending path has closed it; this only guards against a path added later.
    if (dialogue->connection.socket != INVALID_SOCKET)
        VLANSocketClose(&dialogue->connection);
    LogPrint("VLANLogonDlgExit() --- exit ---");
}

INT_PTR CALLBACK VLANLogonDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogonDialogue *dialogue = DialogueOf(window);
    if (message == WM_INITDIALOG) {
        dialogue = static_cast<LogonDialogue *>(AttachOperationContext(window, sizeof(LogonDialogue)));
        if (dialogue == NULL)
            return FALSE;
        dialogue->request = reinterpret_cast<const LogonRequest *>(lParam);
        VLANConnectionInit(&dialogue->connection);
        VLANLogonDlgInit(window);
        return FALSE;
    }
    if (dialogue == NULL)
        return FALSE;  // before WM_INITDIALOG, or after WM_DESTROY
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            VLANSocketClose(&dialogue->connection);
            EndDialog(window, OPERATION_FAILURE);
        }
        return TRUE;
    case WM_VLAN_CONNECT:
        VLANLogonConnectStart(window);
        return TRUE;
    case WM_VLAN_SOCKET:
        // A notification still queued for a socket closed earlier is not this dialogue's.
        if ((SOCKET)wParam != dialogue->connection.socket ||
            dialogue->connection.socket == INVALID_SOCKET)
            return TRUE;
        if (WSAGETSELECTEVENT(lParam) == FD_READ)
            VLANLogonReceiveData(window);
        else
            VLANDialogueClosed(window, &dialogue->connection, WSAGETSELECTERROR(lParam),
                               VLANLogonAnalyze);
        return TRUE;
    case WM_TIMER:
        if (wParam == VLAN_TIMEOUT_TIMER_ID)
            VLANDialogueTimedOut(window, &dialogue->connection);
        return TRUE;
    case WM_DESTROY:
        VLANLogonDlgExit(dialogue);
        DetachOperationContext(window);
        return FALSE;
    }
    return FALSE;
}
