// The clients' side of the service's pipe and the small checks both clients make.
#include "ward_client.h"
#include "product_key.h"

#include <iphlpapi.h>

// Pause between two attempts to open a pipe that is absent or busy.
static const DWORD BUSY_RETRY_STEP_MS = 50;
// A reply is read into this many bytes; the service never sends more.
static const DWORD REPLY_BYTES = (WARD_REPLY_CHARS - 1) * sizeof(WCHAR);

BOOL IsServiceRefusalBeforeSending(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PIPE_BUSY ||
           error == ERROR_SEM_TIMEOUT;
}

// Opens the pipe, retrying a refusal until busyRetryMs have passed since the first try.
static HANDLE OpenWardPipe(DWORD busyRetryMs, DWORD *error)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        // Identification only: the server may learn who we are but not act as us.
        HANDLE pipe = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                      SECURITY_IDENTIFICATION,
                                  NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        *error = GetLastError();
        ULONGLONG elapsed = GetTickCount64() - start;
        if (!IsServiceRefusalBeforeSending(*error) || elapsed >= busyRetryMs)
            return INVALID_HANDLE_VALUE;
        ULONGLONG left = busyRetryMs - elapsed;
        Sleep(left < BUSY_RETRY_STEP_MS ? (DWORD)left : BUSY_RETRY_STEP_MS);
    }
}

// The wardhost service's process id from the service control manager, 0 when it has none.
static DWORD WardServiceProcessId()
{
    DWORD processId = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return 0;
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_QUERY_STATUS);
    if (service != NULL) {
        SERVICE_STATUS_PROCESS status;
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<BYTE *>(&status), sizeof(status), &needed))
            processId = status.dwProcessId;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return processId;
}

// TRUE when the process serving the pipe is the wardhost service's own process, so that no
// request goes to a program that took the pipe's name while the service was down. The
// process id alone decides: the service opens its pipe before it reports RUNNING, and a
// logon at boot may arrive in between. serviceProcess was read before connecting, since
// the service drops a client that does not write at once; only when it does not match
// (the service started meanwhile) is it read again.
static BOOL IsServedByWardService(HANDLE pipe, DWORD serviceProcess)
{
    ULONG serverProcess = 0;
    if (!GetNamedPipeServerProcessId(pipe, &serverProcess) || serverProcess == 0)
        return FALSE;
    if (serviceProcess != serverProcess)
        serviceProcess = WardServiceProcessId();
    return serviceProcess != 0 && serviceProcess == serverProcess;
}

static WardServerCheck g_serverCheck;  // NULL: IsServedByWardService

void SetWardServerCheck(WardServerCheck check)
{
    g_serverCheck = check;
}

// One message out, one message back, bounded by timeoutMs. *bytes is what arrived.
static DWORD TransactWithTimeout(HANDLE pipe, LPCWSTR request, BYTE *received,
                                 DWORD timeoutMs, DWORD *bytes)
{
    *bytes = 0;
    HANDLE done = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (done == NULL)
        return GetLastError();
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = done;
    DWORD requestBytes = (DWORD)(lstrlenW(request) * sizeof(WCHAR));
    DWORD error = ERROR_SUCCESS;
    if (!TransactNamedPipe(pipe, const_cast<LPWSTR>(request), requestBytes, received,
                           REPLY_BYTES, NULL, &overlapped)) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
            CloseHandle(done);
            return error;
        }
    }
    BOOL timedOut = FALSE;
    if (error == ERROR_IO_PENDING && WaitForSingleObject(done, timeoutMs) != WAIT_OBJECT_0) {
        // Nothing may be written into the reply buffer once we have moved on.
        CancelIo(pipe);
        timedOut = TRUE;
    }
    // A reply that completed while we cancelled still counts.
    error = GetOverlappedResult(pipe, &overlapped, bytes, TRUE) ? ERROR_SUCCESS : GetLastError();
    CloseHandle(done);
    // A reply longer than the buffer: the operation ran, its first part is kept.
    if (error == ERROR_MORE_DATA)
        error = ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
        *bytes = 0;
        if (timedOut)
            error = ERROR_TIMEOUT;
    }
    return error;
}

DWORD CallWardService(LPCWSTR request, DWORD busyRetryMs, DWORD replyTimeoutMs, WardReply *reply)
{
    ZeroMemory(reply, sizeof(*reply));
    DWORD error = ERROR_SUCCESS;
    DWORD serviceProcess = g_serverCheck == NULL ? WardServiceProcessId() : 0;
    HANDLE pipe = OpenWardPipe(busyRetryMs, &error);
    if (pipe == INVALID_HANDLE_VALUE)
        return error;
    // Every request: a program that took the pipe's name must get nothing, and must not
    // put a text of its own on the logon screen as the service's answer.
    BOOL served = g_serverCheck != NULL ? g_serverCheck(pipe)
                                        : IsServedByWardService(pipe, serviceProcess);
    if (!served) {
        CloseHandle(pipe);
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe, &mode, NULL, NULL)) {
        error = GetLastError();
        CloseHandle(pipe);
        return error;
    }
    WCHAR received[WARD_REPLY_CHARS];
    ZeroMemory(received, sizeof(received));
    DWORD bytes = 0;
    error = TransactWithTimeout(pipe, request, reinterpret_cast<BYTE *>(received),
                                replyTimeoutMs, &bytes);
    CloseHandle(pipe);
    if (error == ERROR_SUCCESS) {
        DWORD units = bytes / sizeof(WCHAR);
        received[units] = L'\0';
        reply->accepted = units >= 2 && received[0] == L'O' && received[1] == L'K';
        if (units > 2)
            lstrcpynW(reply->text, received + 2, ARRAYSIZE(reply->text));
    }
    SecureZeroMemory(received, sizeof(received));
    return error;
}

LogonWordsResult FormatLogonRequest(LPCWSTR user, LPCWSTR password, LPCWSTR domain, LPWSTR request)
{
    ZeroMemory(request, WARD_REQUEST_CHARS * sizeof(WCHAR));
    // An empty domain is the same as none: it is the last word and shifts nothing.
    if (domain != NULL && domain[0] == L'\0')
        domain = NULL;
    LPCWSTR words[3] = {user, password, domain};
    int wordCount = domain != NULL ? 3 : 2;
    // The service splits its requests at blanks (U+0020) only.
    size_t length = lstrlenW(L"logon");
    for (int i = 0; i < wordCount; i++) {
        if (words[i] == NULL || words[i][0] == L'\0')
            return LOGON_WORDS_BLANK;
        size_t wordLength = 0;
        for (LPCWSTR p = words[i]; *p != L'\0'; p++, wordLength++) {
            if (*p == L' ')
                return LOGON_WORDS_BLANK;
        }
        length += 1 + wordLength;
    }
    if (length >= WARD_REQUEST_CHARS)
        return LOGON_WORDS_TOO_LONG;
    lstrcpyW(request, L"logon");
    for (int i = 0; i < wordCount; i++) {
        lstrcatW(request, L" ");
        lstrcatW(request, words[i]);
    }
    return LOGON_WORDS_OK;
}

BOOL ReadMultiInterfaceWarning(LPWSTR message, DWORD chars)
{
    if (chars > 0)
        message[0] = L'\0';
    DWORD check = 0;
    ReadConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, &check);
    if (check == 0)
        return FALSE;
    WCHAR stored[CONFIG_TEXT_CHARS];
    ReadConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, stored, ARRAYSIZE(stored));
    if (stored[0] == L'\0')
        return FALSE;
    DecodeConfigMessage(stored, L"\n", message, chars);
    return chars > 0 && message[0] != L'\0';
}

int CountExternalIPv4Addresses(void)
{
    ULONG size = 0;
    if (GetIpAddrTable(NULL, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return 0;
    MIB_IPADDRTABLE *table =
        static_cast<MIB_IPADDRTABLE *>(HeapAlloc(GetProcessHeap(), 0, size));
    if (table == NULL)
        return 0;
    int count = 0;
    if (GetIpAddrTable(table, &size, FALSE) == NO_ERROR) {
        for (DWORD i = 0; i < table->dwNumEntries; i++) {
            // dwAddr is in network byte order: its first byte is the first octet.
            const BYTE *octets = reinterpret_cast<const BYTE *>(&table->table[i].dwAddr);
            BOOL loopback = octets[0] == 127 && octets[1] == 0 && octets[2] == 0 && octets[3] == 1;
            if (!loopback && table->table[i].dwAddr != 0)
                count++;
        }
    }
    HeapFree(GetProcessHeap(), 0, table);
    return count;
}

BOOL TokenGroupsHoldAdministrators(const TOKEN_GROUPS *groups)
{
    if (groups == NULL)
        return FALSE;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return FALSE;
    BOOL found = FALSE;
    for (DWORD i = 0; i < groups->GroupCount && !found; i++) {
        // A deny-only group still counts: a filtered administrator can elevate.
        PSID sid = groups->Groups[i].Sid;
        found = sid != NULL && IsValidSid(sid) && EqualSid(sid, administrators);
    }
    FreeSid(administrators);
    return found;
}

BOOL IsAdministrator(void)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BOOL result = FALSE;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenGroups, NULL, 0, &size) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
        TOKEN_GROUPS *groups = static_cast<TOKEN_GROUPS *>(HeapAlloc(GetProcessHeap(), 0, size));
        if (groups != NULL) {
            if (GetTokenInformation(token, TokenGroups, groups, size, &size))
                result = TokenGroupsHoldAdministrators(groups);
            HeapFree(GetProcessHeap(), 0, groups);
        }
    }
    CloseHandle(token);
    return result;
}

int ShowTableMessage(HWND owner, UINT textId, UINT captionId, UINT style)
{
    // The strings live in whichever module this code was linked into.
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ShowTableMessage), &module);
    WCHAR text[CONFIG_TEXT_CHARS];
    WCHAR caption[CONFIG_TEXT_CHARS];
    if (LoadStringW(module, textId, text, ARRAYSIZE(text)) <= 0)
        text[0] = L'\0';
    if (LoadStringW(module, captionId, caption, ARRAYSIZE(caption)) <= 0)
        caption[0] = L'\0';
    return MessageBoxW(owner, text, caption, style);
}
