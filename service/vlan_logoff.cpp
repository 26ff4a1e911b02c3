// The "logoff" operation: the DE-Zeruzu logoff dialogue with the server chosen by the
// group of the last logon, and the logon state set back to logged off.
#include "wardhost.h"
#include "operation_window.h"
#include "product_key.h"
#include "wardhost_res.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void VLANLogoffAnalyzeSuccess(HWND window, const char *text);

// Row 1 is the digit alone: once the prompt is answered, any text holding a 2 confirms.
// The prompt holds a 2 as well, which is why row 0 must come first. Before the prompt is
// answered row 1 does not apply: a banner holding a 2 would otherwise record a logoff
// that was never sent.
const PromptRule VLANLogoffPrompts[] = {
    /* 0 */ {"Connect(1) / Disconnect(2):", ANSWER_TEXT, "2", NULL},
    /* 1 */ {"2", ANSWER_NONE, NULL, VLANLogoffAnalyzeSuccess},
};
const int VLAN_LOGOFF_PROMPT_ROWS = ARRAYSIZE(VLANLogoffPrompts);
enum { ROW_CONFIRMATION = 1 };

// One logoff window's state, in its user data from WM_INITDIALOG to WM_DESTROY.
struct LogoffDialogue {
    VLANConnection connection;
    BOOL promptAnswered;  // row 0 was answered in this dialogue
};

static LogoffDialogue *DialogueOf(HWND window)
{
    return static_cast<LogoffDialogue *>(OperationContextOf(window));
}

static const VLANServerTexts LOGOFF_SERVER_TEXTS = {
    "  VLAN Logoff server IP adress = %s",
    "  VLAN Logoff server port no   = %d",
    IDS_CANNOT_CONNECT_LOGOFF,
};

static void VLANLogoffDlgInit(HWND window)
{
    LogPrint("VLANLogoffDlgInit() --- start ---");
    SetTextFromTable(window, IDS_LOGOFF_CAPTION);
    SetOperationText(window, IDS_SENDING_REQUEST);
    PostMessageW(window, WM_VLAN_CONNECT, 0, 0);
    LogPrint("VLANLogoffDlgInit() --- end ---");
}

// The per-VLAN pair under GroupList\<GroupNumber> when both values can be read, else the
// product key's own pair.
static void ReadLogoffServer(LPWSTR server, DWORD *port)
{
    DWORD group = 0;
    ReadConfigDword(NULL, VALUE_GROUP_NUMBER, &group);
    WCHAR subkey[64];
    _snwprintf(subkey, ARRAYSIZE(subkey), L"%ls\\%d", SUBKEY_GROUP_LIST, (int)group);
    subkey[ARRAYSIZE(subkey) - 1] = L'\0';
    *port = 0;
    // Read as the configuration tool reads them, so that both see the same server. The
    // buffer keeps VLAN_SERVER_CHARS for the template's expansion.
    ZeroMemory(server, VLAN_SERVER_CHARS * sizeof(WCHAR));
    if (ReadConfigString(subkey, VALUE_VLAN_LOGOFF_SERVER, server, CONFIG_SERVER_CHARS) ==
            ERROR_SUCCESS &&
        ReadServerPort(subkey, VALUE_VLAN_LOGOFF_PORT, port) == ERROR_SUCCESS)
        return;
    ReadConfigString(NULL, VALUE_VLAN_LOGOFF_SERVER, server, CONFIG_SERVER_CHARS);
    ReadServerPort(NULL, VALUE_VLAN_LOGOFF_PORT, port);
}

static void VLANLogoffConnectStart(HWND window)
{
    LogPrint("VLANLogoffConnectStart() --- start ---");
    WCHAR server[VLAN_SERVER_CHARS];
    DWORD port;
    ReadLogoffServer(server, &port);
    if (server[0] == L'\0' || port == 0) {
        LogPrint("  No configuration VLAN logoff server.");
        LoadResultMessage(IDS_NO_LOGOFF_SERVER);
        EndDialog(window, OPERATION_FAILURE);
        return;
    }
    if (!VLANSocketConnect(window, server, port, &DialogueOf(window)->connection,
                           &LOGOFF_SERVER_TEXTS)) {
        EndDialog(window, OPERATION_FAILURE);
        return;
    }
    LogPrint("VLANLogoffConnectStart() --- end ---");
}

static void VLANLogoffAnalyze(HWND window, const char *text)
{
    LogPrint("VLANLogoffAnalyze() --- start ---");
    LogoffDialogue *dialogue = DialogueOf(window);
    const PromptRule *rule = FindPromptRule(VLANLogoffPrompts, VLAN_LOGOFF_PROMPT_ROWS, text);
    if (rule == &VLANLogoffPrompts[ROW_CONFIRMATION] && !dialogue->promptAnswered)
        rule = NULL;
    if (rule != NULL) {
        if (rule->answer == ANSWER_TEXT && SendPromptReply(&dialogue->connection, rule->text))
            dialogue->promptAnswered = TRUE;
        if (rule->handler != NULL)
            rule->handler(window, text);
    }
    LogPrint("VLANLogoffAnalyze() --- end ---");
}

static void VLANLogoffReceiveData(HWND window)
{
    LogPrint("VLANLogoffReceiveData() --- start ---");
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
    VLANLogoffAnalyze(window, text);
    LogPrint("VLANLogoffReceiveData() --- end ---");
}

static void VLANLogoffAnalyzeSuccess(HWND window, const char *text)
{
    (void)text;
    LogPrint("VLANLogoffAnalyzeSuccess() --- start ---");
    SetOperationText(window, IDS_GOOD_BYE);
    WriteConfigDword(NULL, VALUE_VLAN_LOGON, VLAN_LOGON_STATE_OFF, FALSE);
    VLANSocketClose(&DialogueOf(window)->connection);
    EndDialog(window, OPERATION_SUCCESS);
    LogPrint("VLANLogoffAnalyzeSuccess() --- end ---");
}

static void VLANLogoffDlgExit(LogoffDialogue *dialogue)
{
    LogPrint("VLANLogoffDlgExit()");
    // Every ending path has closed it; this only guards against a path added later.
    if (dialogue->connection.socket != INVALID_SOCKET)
        VLANSocketClose(&dialogue->connection);
}

// The window's parameter (an all-null request) is not used: a logoff sends no words.
INT_PTR CALLBACK VLANLogoffDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogoffDialogue *dialogue = DialogueOf(window);
    if (message == WM_INITDIALOG) {
        dialogue = static_cast<LogoffDialogue *>(AttachOperationContext(window, sizeof(LogoffDialogue)));
        if (dialogue == NULL)
            return FALSE;
        VLANConnectionInit(&dialogue->connection);
        VLANLogoffDlgInit(window);
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
        VLANLogoffConnectStart(window);
        return TRUE;
    case WM_VLAN_SOCKET:
        if ((SOCKET)wParam != dialogue->connection.socket ||
            dialogue->connection.socket == INVALID_SOCKET)
            return TRUE;
        if (WSAGETSELECTEVENT(lParam) == FD_READ)
            VLANLogoffReceiveData(window);
        else
            VLANDialogueClosed(window, &dialogue->connection, WSAGETSELECTERROR(lParam),
                               VLANLogoffAnalyze);
        return TRUE;
    case WM_TIMER:
        if (wParam == VLAN_TIMEOUT_TIMER_ID)
            VLANDialogueTimedOut(window, &dialogue->connection);
        return TRUE;
    case WM_DESTROY:
        VLANLogoffDlgExit(dialogue);
        DetachOperationContext(window);
        return FALSE;
    }
    return FALSE;
}
