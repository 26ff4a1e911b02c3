// "wardhost -check": looks at the whole installation (service, pipe, product key, tile,
// tray client, network, log) and prints one line per check, "OK" or what is wrong and
// what to do. Reads only; sends no request that could log anyone on or off.
#include "wardhost.h"
#include "time_limits.h"
#include "product_key.h"
#include "registration.h"
#include "wardhost_res.h"

#include <ws2tcpip.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum {
    CHECK_TEXT_CHARS = 1025,          // wvsprintfW writes at most 1024 units
    STRING_VALUE_BYTES = 1024,        // more than any string of the schema may hold
};

enum CheckResult {
    CHECK_HOLDS,
    CHECK_FAULT,
    CHECK_NOT_MADE,   // needs rights this process does not have
    CHECK_SKIPPED,    // depends on a check that already reported the fault
};

struct Finding {
    CheckResult result;
    WCHAR text[CHECK_TEXT_CHARS];
};

// A DE-Zeruzu the network checks connect to; usable once its values passed their checks.
struct Endpoint {
    WCHAR label[CHECK_TEXT_CHARS];
    WCHAR shown[VLAN_SERVER_CHARS];   // the address connected to, else the text configured
    char address[VLAN_TEXT_BYTES];
    DWORD port;
    BOOL usable;
};

static struct {
    int checks;
    int faults;
    int notMade;
} g_tally;

static Endpoint *g_endpoints;
static int g_endpointCount;

// ---- output

// A console takes UTF-16 as it is; anything else (a file, a pipe, a deployment tool)
// gets UTF-8, which holds every path and server name, whatever the code pages.
static void WriteLine(LPCWSTR text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == NULL || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode, written;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, (DWORD)wcslen(text), &written, NULL);
        WriteConsoleW(out, L"\r\n", 2, &written, NULL);
        return;
    }
    char bytes[CHECK_TEXT_CHARS * 3 + 2];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes) - 2, NULL, NULL);
    if (length == 0)
        return;
    length--;  // the terminator
    bytes[length++] = '\r';
    bytes[length++] = '\n';
    WriteFile(out, bytes, (DWORD)length, &written, NULL);
}

static void FormatTextV(LPWSTR out, UINT id, va_list args)
{
    WCHAR format[CHECK_TEXT_CHARS];
    if (LoadStringW(GetModuleHandleW(NULL), id, format, ARRAYSIZE(format)) <= 0)
        format[0] = L'\0';
    wvsprintfW(out, format, args);
}

// out holds CHECK_TEXT_CHARS units.
static void FormatText(LPWSTR out, UINT id, ...)
{
    va_list args;
    va_start(args, id);
    FormatTextV(out, id, args);
    va_end(args);
}

static void Find(Finding *finding, CheckResult result, UINT id, ...)
{
    finding->result = result;
    va_list args;
    va_start(args, id);
    FormatTextV(finding->text, id, args);
    va_end(args);
}

static void Holds(Finding *finding, LPCWSTR detail)
{
    if (detail != NULL && detail[0] != L'\0')
        Find(finding, CHECK_HOLDS, IDS_CHECK_OK_DETAIL, detail);
    else
        Find(finding, CHECK_HOLDS, IDS_CHECK_OK);
}

// A failure to read: missing rights are said as such, anything else names the call.
static void CouldNotRead(Finding *finding, LPCWSTR call, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED)
        Find(finding, CHECK_NOT_MADE, IDS_CHECK_NEEDS_ADMIN);
    else
        Find(finding, CHECK_FAULT, IDS_CHECK_CALL_FAILED, call, (int)error);
}

static void Report(LPCWSTR label, const Finding *finding)
{
    WCHAR line[CHECK_TEXT_CHARS];
    FormatText(line, IDS_CHECK_LINE, label, finding->text);
    WriteLine(line);
    if (finding->result == CHECK_SKIPPED)
        return;
    g_tally.checks++;
    g_tally.faults += finding->result == CHECK_FAULT;
    g_tally.notMade += finding->result == CHECK_NOT_MADE;
}

static void ReportWithLabel(UINT labelId, const Finding *finding)
{
    WCHAR label[CHECK_TEXT_CHARS];
    FormatText(label, labelId);
    Report(label, finding);
}

// ---- small helpers

static BOOL FileExists(LPCWSTR path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The program a command line starts: a quoted path, or an unquoted one up to the first
// blank. *unsafe when the line is unquoted but the text after that blank would make a
// longer path (Windows tries "C:\Program.exe" before "C:\Program Files\...").
static void CommandProgram(LPCWSTR commandLine, LPWSTR path, DWORD chars, BOOL *unsafe)
{
    *unsafe = FALSE;
    path[0] = L'\0';
    LPCWSTR start = commandLine, end;
    if (*start == L'"') {
        start++;
        end = wcschr(start, L'"');
        if (end == NULL)
            end = start + wcslen(start);
    } else {
        end = wcschr(start, L' ');
        if (end == NULL) {
            end = start + wcslen(start);
        } else {
            // Unquoted with a blank: Windows' search is ambiguous, whatever follows.
            *unsafe = TRUE;
        }
    }
    size_t length = (size_t)(end - start);
    if (length >= chars)
        length = chars - 1;
    wmemcpy(path, start, length);
    path[length] = L'\0';
}

static LPCWSTR FileNamePart(LPCWSTR path)
{
    LPCWSTR slash = wcsrchr(path, L'\\');
    return slash != NULL ? slash + 1 : path;
}

// An account as "DOMAIN\name", or its SID string when it has no name here.
static void AccountName(PSID sid, LPWSTR out, DWORD chars)
{
    WCHAR name[256], domain[256];
    DWORD nameChars = ARRAYSIZE(name), domainChars = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (LookupAccountSidW(NULL, sid, name, &nameChars, domain, &domainChars, &use)) {
        _snwprintf(out, chars, domain[0] != L'\0' ? L"%ls\\%ls" : L"%ls%ls", domain, name);
        out[chars - 1] = L'\0';
        return;
    }
    LPWSTR text = NULL;
    if (ConvertSidToStringSidW(sid, &text)) {
        lstrcpynW(out, text, (int)chars);
        LocalFree(text);
    } else {
        lstrcpynW(out, L"?", (int)chars);
    }
}

// SYSTEM, Administrators and TrustedInstaller own the system's folders; CREATOR OWNER
// only stands for whoever creates an object inside.
static BOOL IsTrustedSid(PSID sid)
{
    static const WCHAR *const TRUSTED[] = {
        L"S-1-5-18", L"S-1-5-32-544", L"S-1-3-0",
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    };
    for (LPCWSTR text : TRUSTED) {
        PSID trusted = NULL;
        if (!ConvertStringSidToSidW(text, &trusted))
            continue;
        BOOL equal = EqualSid(sid, trusted);
        LocalFree(trusted);
        if (equal)
            return TRUE;
    }
    return FALSE;
}

// Whether sid is the account this check runs as while it holds Administrators.
static BOOL IsElevatedSelf(PSID sid, PSID administrators)
{
    BOOL member = FALSE;
    if (!CheckTokenMembership(NULL, administrators, &member) || !member)
        return FALSE;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD bytes;
    BOOL self = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &bytes) &&
                EqualSid(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, sid);
    CloseHandle(token);
    return self;
}

// A trusted account, or one in the local Administrators group: whoever could take the
// folder over anyway. A folder an administrator made by hand is owned by that account.
static BOOL IsAdministrativeSid(PSID sid)
{
    if (IsTrustedSid(sid))
        return TRUE;
    PSID administrators = NULL;
    if (!ConvertStringSidToSidW(L"S-1-5-32-544", &administrators))
        return FALSE;
    if (IsElevatedSelf(sid, administrators)) {
        LocalFree(administrators);
        return TRUE;
    }
    // The group's name differs by language; its members are listed by name.
    WCHAR name[256], domain[256];
    DWORD nameChars = ARRAYSIZE(name), domainChars = ARRAYSIZE(domain);
    SID_NAME_USE use;
    BOOL member = FALSE;
    if (LookupAccountSidW(NULL, administrators, name, &nameChars, domain, &domainChars, &use)) {
        LOCALGROUP_MEMBERS_INFO_0 *members = NULL;
        DWORD read = 0, total = 0;
        if (NetLocalGroupGetMembers(NULL, name, 0, reinterpret_cast<BYTE **>(&members),
                                    MAX_PREFERRED_LENGTH, &read, &total, NULL) == NERR_Success) {
            for (DWORD i = 0; i < read && !member; i++)
                member = members[i].lgrmi0_sid != NULL && EqualSid(members[i].lgrmi0_sid, sid);
        }
        if (members != NULL)
            NetApiBufferFree(members);
    }
    LocalFree(administrators);
    return member;
}

// ---- the service and its pipe

static void CheckServiceConfig(SC_HANDLE service)
{
    Finding finding;
    DWORD needed = 0;
    QueryServiceConfigW(service, NULL, 0, &needed);
    QUERY_SERVICE_CONFIGW *config =
        needed > 0 ? static_cast<QUERY_SERVICE_CONFIGW *>(calloc(1, needed)) : NULL;
    if (config == NULL || !QueryServiceConfigW(service, config, needed, &needed)) {
        CouldNotRead(&finding, L"QueryServiceConfig", config == NULL ? ERROR_OUTOFMEMORY : GetLastError());
        ReportWithLabel(IDS_LABEL_SERVICE_START, &finding);
        free(config);
        return;
    }

    if (config->dwStartType == SERVICE_AUTO_START)
        Holds(&finding, NULL);
    else
        Find(&finding, CHECK_FAULT, IDS_SERVICE_NOT_AUTO, (int)config->dwStartType);
    ReportWithLabel(IDS_LABEL_SERVICE_START, &finding);

    LPCWSTR account = config->lpServiceStartName != NULL ? config->lpServiceStartName : L"";
    if (account[0] == L'\0' || _wcsicmp(account, L"LocalSystem") == 0)
        Holds(&finding, NULL);
    else
        Find(&finding, CHECK_FAULT, IDS_SERVICE_NOT_LOCALSYSTEM, account);
    ReportWithLabel(IDS_LABEL_SERVICE_ACCOUNT, &finding);

    LPCWSTR command = config->lpBinaryPathName != NULL ? config->lpBinaryPathName : L"";
    WCHAR program[MAX_PATH * 2];
    BOOL unsafe;
    CommandProgram(command, program, ARRAYSIZE(program), &unsafe);
    if (unsafe)
        Find(&finding, CHECK_FAULT, IDS_SERVICE_PATH_UNQUOTED, command);
    else if (!FileExists(program))
        Find(&finding, CHECK_FAULT, IDS_SERVICE_PATH_MISSING, program);
    else
        Holds(&finding, command);
    ReportWithLabel(IDS_LABEL_SERVICE_IMAGE, &finding);
    free(config);
}

// The service's process id while it runs, else 0.
static DWORD CheckService()
{
    Finding finding;
    DWORD processId = 0;
    SC_HANDLE service = NULL;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        CouldNotRead(&finding, L"OpenSCManager", GetLastError());
        ReportWithLabel(IDS_LABEL_SERVICE, &finding);
        return 0;
    }
    service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            Find(&finding, CHECK_FAULT, IDS_SERVICE_NOT_INSTALLED);
        else
            CouldNotRead(&finding, L"OpenService", error);
        ReportWithLabel(IDS_LABEL_SERVICE, &finding);
        goto cleanup;
    }
    Holds(&finding, NULL);
    ReportWithLabel(IDS_LABEL_SERVICE, &finding);
    CheckServiceConfig(service);

    {
        SERVICE_STATUS_PROCESS status;
        DWORD needed;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<BYTE *>(&status), sizeof(status), &needed)) {
            CouldNotRead(&finding, L"QueryServiceStatusEx", GetLastError());
        } else if (status.dwCurrentState != SERVICE_RUNNING) {
            Find(&finding, CHECK_FAULT, IDS_SERVICE_NOT_RUNNING, (int)status.dwCurrentState);
        } else {
            processId = status.dwProcessId;
            Holds(&finding, NULL);
        }
        ReportWithLabel(IDS_LABEL_SERVICE_STATE, &finding);
    }

cleanup:
    if (service != NULL)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return processId;
}

// Opens the pipe for identification only (the server may learn who asks, not act as
// us), waiting a bounded time while its one instance serves another client.
static HANDLE OpenServicePipe(DWORD *error)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        HANDLE pipe = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                      SECURITY_IDENTIFICATION,
                                  NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        *error = GetLastError();
        // Busy: 231; Wine says 121 for the same.
        if ((*error != ERROR_PIPE_BUSY && *error != ERROR_SEM_TIMEOUT) ||
            GetTickCount64() - start >= TimeLimits().checkPipeMs)
            return INVALID_HANDLE_VALUE;
        Sleep(50);
    }
}

// The pipe is opened, its server process compared with the service's before anything is
// written, and then one blank is sent: a request without a command word, which the
// service answers "NG" without running any operation. So the check proves the service
// reads and answers, yet nothing reaches the network and no state changes.
static void CheckPipe(DWORD serviceProcessId)
{
    Finding finding;
    DWORD error = ERROR_SUCCESS;
    HANDLE pipe = OpenServicePipe(&error);
    HANDLE done = NULL;
    if (pipe == INVALID_HANDLE_VALUE) {
        if (error == ERROR_ACCESS_DENIED)
            Find(&finding, CHECK_NOT_MADE, IDS_CHECK_NEEDS_ADMIN);
        else
            Find(&finding, CHECK_FAULT, IDS_PIPE_ABSENT, WARD_PIPE_NAME, (int)error);
        ReportWithLabel(IDS_LABEL_PIPE, &finding);
        return;
    }
    ULONG serverProcessId = 0;
    if (!GetNamedPipeServerProcessId(pipe, &serverProcessId)) {
        CouldNotRead(&finding, L"GetNamedPipeServerProcessId", GetLastError());
        goto cleanup;
    }
    if (serverProcessId != serviceProcessId || serviceProcessId == 0) {
        Find(&finding, CHECK_FAULT, IDS_PIPE_SQUATTED, WARD_PIPE_NAME, (int)serverProcessId,
             (int)serviceProcessId);
        goto cleanup;
    }
    {
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!SetNamedPipeHandleState(pipe, &mode, NULL, NULL)) {
            Find(&finding, CHECK_FAULT, IDS_PIPE_ABSENT, WARD_PIPE_NAME, (int)GetLastError());
            goto cleanup;
        }
        done = CreateEventW(NULL, TRUE, FALSE, NULL);
        if (done == NULL) {
            CouldNotRead(&finding, L"CreateEvent", GetLastError());
            goto cleanup;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = done;
        WCHAR request[] = L" ";
        WCHAR reply[PIPE_BUFFER_BYTES / sizeof(WCHAR) + 1] = {};
        DWORD bytes = 0;
        BOOL ok = TransactNamedPipe(pipe, request, sizeof(WCHAR), reply, PIPE_BUFFER_BYTES,
                                    NULL, &overlapped);
        error = ok ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING) {
            if (WaitForSingleObject(done, TimeLimits().checkPipeMs) != WAIT_OBJECT_0)
                CancelIo(pipe);
            error = GetOverlappedResult(pipe, &overlapped, &bytes, TRUE) ? ERROR_SUCCESS
                                                                          : GetLastError();
            if (error == ERROR_OPERATION_ABORTED) {
                Find(&finding, CHECK_FAULT, IDS_PIPE_NO_REPLY, WARD_PIPE_NAME,
                     (int)(TimeLimits().checkPipeMs / 1000));
                goto cleanup;
            }
        } else if (ok) {
            GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
        }
        if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && bytes >= 2 * sizeof(WCHAR) &&
            (wcsncmp(reply, L"OK", 2) == 0 || wcsncmp(reply, L"NG", 2) == 0)) {
            Find(&finding, CHECK_HOLDS, IDS_PIPE_OK, (int)serverProcessId);
        } else {
            Find(&finding, CHECK_FAULT, IDS_PIPE_ABSENT, WARD_PIPE_NAME,
                 (int)(error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA));
        }
    }

cleanup:
    if (done != NULL)
        CloseHandle(done);
    CloseHandle(pipe);
    ReportWithLabel(IDS_LABEL_PIPE, &finding);
}

// ---- the product key

struct RawValue {
    LONG rc;
    DWORD type;
    DWORD bytes;
    BYTE data[STRING_VALUE_BYTES + sizeof(WCHAR)];
};

static void ReadRawValue(HKEY key, LPCWSTR name, RawValue *value)
{
    ZeroMemory(value, sizeof(*value));
    value->bytes = STRING_VALUE_BYTES;
    value->rc = RegQueryValueExW(key, name, NULL, &value->type, value->data, &value->bytes);
}

// A string value as its readers take it: missing reads as empty. FALSE, with the
// finding set, when it cannot be used as it is stored.
static BOOL CheckStringValue(const RawValue *value, DWORD limitChars, LPWSTR text,
                             Finding *finding)
{
    text[0] = L'\0';
    if (value->rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (value->rc == ERROR_MORE_DATA) {
        Find(finding, CHECK_FAULT, IDS_VALUE_TOO_LONG, (int)limitChars);
        return FALSE;
    }
    if (value->rc != ERROR_SUCCESS) {
        CouldNotRead(finding, L"RegQueryValueEx", (DWORD)value->rc);
        return FALSE;
    }
    if (value->type != REG_SZ) {
        Find(finding, CHECK_FAULT, IDS_VALUE_WRONG_TYPE, (int)value->type, L"REG_SZ");
        return FALSE;
    }
    if (value->bytes % sizeof(WCHAR) != 0) {
        Find(finding, CHECK_FAULT, IDS_VALUE_DAMAGED, (int)value->bytes);
        return FALSE;
    }
    const WCHAR *data = reinterpret_cast<const WCHAR *>(value->data);
    DWORD chars = value->bytes / sizeof(WCHAR);
    while (chars > 0 && data[chars - 1] == L'\0')
        chars--;
    if (chars > limitChars) {
        Find(finding, CHECK_FAULT, IDS_VALUE_TOO_LONG, (int)limitChars);
        return FALSE;
    }
    wmemcpy(text, data, chars);
    text[chars] = L'\0';
    return TRUE;
}

// *present is FALSE for a missing value, which reads as 0.
static BOOL CheckDwordValue(const RawValue *value, DWORD *number, BOOL *present, Finding *finding)
{
    *number = 0;
    *present = FALSE;
    if (value->rc == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (value->rc != ERROR_SUCCESS && value->rc != ERROR_MORE_DATA) {
        CouldNotRead(finding, L"RegQueryValueEx", (DWORD)value->rc);
        return FALSE;
    }
    if (value->rc != ERROR_SUCCESS || value->type != REG_DWORD || value->bytes != sizeof(DWORD)) {
        Find(finding, CHECK_FAULT, IDS_VALUE_WRONG_TYPE, (int)value->type, L"REG_DWORD");
        return FALSE;
    }
    memcpy(number, value->data, sizeof(DWORD));
    *present = TRUE;
    return TRUE;
}

// A server as the service reaches it: "*" fields filled from this workstation's address
// by the service's own expansion, the text in the ANSI code page exactly.
static void CheckServerValue(HKEY key, LPCWSTR name, Finding *finding, Endpoint *endpoint)
{
    RawValue value;
    ReadRawValue(key, name, &value);
    WCHAR server[VLAN_SERVER_CHARS];
    endpoint->usable = FALSE;
    endpoint->address[0] = '\0';
    if (!CheckStringValue(&value, CONFIG_SERVER_CHARS - 1, server, finding))
        return;
    lstrcpynW(endpoint->shown, server, ARRAYSIZE(endpoint->shown));
    if (server[0] == L'\0') {
        Find(finding, CHECK_FAULT, IDS_VALUE_NOT_SET);
        return;
    }
    WCHAR expanded[VLAN_SERVER_CHARS];
    lstrcpynW(expanded, server, ARRAYSIZE(expanded));
    BOOL isTemplate = wcschr(server, L'*') != NULL;
    if (isTemplate && !ExpandServerTemplate(expanded, sizeof(expanded))) {
        Find(finding, CHECK_FAULT, IDS_TEMPLATE_NO_ADDRESS, server);
        return;
    }
    char address[VLAN_TEXT_BYTES];
    WCHAR back[VLAN_SERVER_CHARS];
    if (WideCharToMultiByte(CP_ACP, 0, expanded, -1, address, sizeof(address), NULL, NULL) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, address, -1, back, ARRAYSIZE(back)) == 0 ||
        wcscmp(back, expanded) != 0) {
        Find(finding, CHECK_FAULT, IDS_SERVER_NOT_ANSI, expanded);
        return;
    }
    // The service's own rule, so that the check refuses exactly what the service refuses.
    IN_ADDR in;
    if (ClassifyServerAddress(address, &in) == SERVER_ADDRESS_REFUSED) {
        Find(finding, CHECK_FAULT, IDS_SERVER_NOT_DOTTED, expanded);
        return;
    }
    lstrcpynA(endpoint->address, address, sizeof(endpoint->address));
    lstrcpynW(endpoint->shown, expanded, ARRAYSIZE(endpoint->shown));
    endpoint->usable = TRUE;
    Holds(finding, isTemplate ? expanded : NULL);
}

static void CheckPortValue(HKEY key, LPCWSTR name, Finding *finding, Endpoint *endpoint)
{
    RawValue value;
    ReadRawValue(key, name, &value);
    DWORD port;
    BOOL present;
    endpoint->port = 0;
    if (!CheckDwordValue(&value, &port, &present, finding))
        return;
    if (!present || port == 0) {
        Find(finding, CHECK_FAULT, IDS_VALUE_NOT_SET);
        return;
    }
    if (port < PORT_MIN || port > PORT_MAX) {
        Find(finding, CHECK_FAULT, IDS_PORT_OUT_OF_RANGE, (unsigned)port, (int)PORT_MIN,
             (int)PORT_MAX);
        return;
    }
    endpoint->port = port;
    Holds(finding, NULL);
}

// A new endpoint for the network checks; without memory for one, *scratch, which the
// value checks still fill but no connection is tried for.
static Endpoint *AddEndpoint(Endpoint *scratch)
{
    ZeroMemory(scratch, sizeof(*scratch));
    Endpoint *grown = static_cast<Endpoint *>(
        realloc(g_endpoints, (g_endpointCount + 1) * sizeof(Endpoint)));
    if (grown == NULL)
        return scratch;
    g_endpoints = grown;
    Endpoint *endpoint = &g_endpoints[g_endpointCount++];
    ZeroMemory(endpoint, sizeof(*endpoint));
    return endpoint;
}

static void LabelEndpoint(Endpoint *endpoint, UINT labelId, LPCWSTR vlan)
{
    if (vlan != NULL)
        FormatText(endpoint->label, labelId, vlan, endpoint->shown, (unsigned)endpoint->port);
    else
        FormatText(endpoint->label, labelId, endpoint->shown, (unsigned)endpoint->port);
}

static void CheckServerPair(HKEY key, LPCWSTR serverName, LPCWSTR portName, UINT labelId)
{
    Endpoint scratch;
    Endpoint *endpoint = AddEndpoint(&scratch);
    Finding server, port;
    CheckServerValue(key, serverName, &server, endpoint);
    Report(serverName, &server);
    CheckPortValue(key, portName, &port, endpoint);
    Report(portName, &port);
    endpoint->usable = server.result == CHECK_HOLDS && port.result == CHECK_HOLDS;
    LabelEndpoint(endpoint, labelId, NULL);
}

enum ValueKind { VALUE_SWITCH, VALUE_WAIT, VALUE_TEXT, VALUE_IMAGE };

// The values of the product key besides the servers, their ports and the log.
static const struct {
    LPCWSTR name;
    ValueKind kind;
} OTHER_VALUES[] = {
    {VALUE_ENABLE_DHCP, VALUE_SWITCH},
    {VALUE_NOT_FIND_DOMAIN, VALUE_SWITCH},
    {VALUE_WAIT_IP_RENEW, VALUE_WAIT},
    {VALUE_WAIT_FIND_DOMAIN, VALUE_WAIT},
    {VALUE_LOGON_IMAGE, VALUE_IMAGE},
    {VALUE_MULTI_INTERFACE_CHECK, VALUE_SWITCH},
    {VALUE_MULTI_INTERFACE_MESSAGE, VALUE_TEXT},
};

static void CheckOtherValue(HKEY key, LPCWSTR name, ValueKind kind, Finding *finding)
{
    RawValue value;
    ReadRawValue(key, name, &value);
    WCHAR detail[CHECK_TEXT_CHARS];
    if (kind == VALUE_SWITCH || kind == VALUE_WAIT) {
        DWORD number;
        BOOL present;
        if (!CheckDwordValue(&value, &number, &present, finding))
            return;
        if (kind == VALUE_WAIT && number > WAIT_SECONDS_MAX) {
            Find(finding, CHECK_FAULT, IDS_WAIT_TOO_LONG, (unsigned)number,
                 (int)WAIT_SECONDS_MAX, (int)WAIT_SECONDS_MAX);
            return;
        }
        if (present)
            _snwprintf(detail, ARRAYSIZE(detail), L"%lu", number);
        else
            FormatText(detail, IDS_CHECK_NOT_SET);
        detail[ARRAYSIZE(detail) - 1] = L'\0';
        Holds(finding, detail);
        return;
    }
    WCHAR text[CONFIG_TEXT_CHARS];
    if (!CheckStringValue(&value, CONFIG_TEXT_CHARS - 1, text, finding))
        return;
    if (kind == VALUE_IMAGE && text[0] != L'\0' && !FileExists(text)) {
        Find(finding, CHECK_FAULT, IDS_IMAGE_MISSING, text);
        return;
    }
    if (text[0] == L'\0')
        FormatText(detail, IDS_CHECK_NOT_SET);
    else
        lstrcpynW(detail, kind == VALUE_IMAGE ? text : L"", ARRAYSIZE(detail));
    Holds(finding, detail);
}

// One line per entry: its first fault, or its server and port.
static void CheckGroupEntry(HKEY groups, LPCWSTR name)
{
    WCHAR label[CHECK_TEXT_CHARS];
    FormatText(label, IDS_LABEL_GROUP_ENTRY, name);
    Finding finding;
    // The service opens the subkey named after the group number in decimal.
    WCHAR canonical[32];
    _snwprintf(canonical, ARRAYSIZE(canonical), L"%d", (int)ParseVlanId(name));
    canonical[ARRAYSIZE(canonical) - 1] = L'\0';
    if (wcscmp(canonical, name) != 0) {
        Find(&finding, CHECK_FAULT, IDS_GROUP_NAME);
        Report(label, &finding);
        return;
    }
    HKEY entry;
    LONG rc = RegOpenKeyExW(groups, name, 0, KEY_READ, &entry);
    if (rc != ERROR_SUCCESS) {
        CouldNotRead(&finding, L"RegOpenKeyEx", (DWORD)rc);
        Report(label, &finding);
        return;
    }
    Endpoint scratch;
    Endpoint *endpoint = AddEndpoint(&scratch);
    Finding server, port;
    CheckServerValue(entry, VALUE_VLAN_LOGOFF_SERVER, &server, endpoint);
    CheckPortValue(entry, VALUE_VLAN_LOGOFF_PORT, &port, endpoint);
    RegCloseKey(entry);
    LabelEndpoint(endpoint, IDS_LABEL_GROUP_SERVER, name);
    endpoint->usable = server.result == CHECK_HOLDS && port.result == CHECK_HOLDS;
    const Finding *failed = server.result != CHECK_HOLDS ? &server : &port;
    LPCWSTR failedName = server.result != CHECK_HOLDS ? VALUE_VLAN_LOGOFF_SERVER
                                                      : VALUE_VLAN_LOGOFF_PORT;
    if (failed->result != CHECK_HOLDS) {
        finding.result = failed->result;
        FormatText(finding.text, IDS_CHECK_LINE, failedName, failed->text);
    } else {
        WCHAR detail[CHECK_TEXT_CHARS];
        _snwprintf(detail, ARRAYSIZE(detail), L"%ls:%lu", endpoint->shown, endpoint->port);
        detail[ARRAYSIZE(detail) - 1] = L'\0';
        Holds(&finding, detail);
    }
    Report(label, &finding);
}

static void CheckGroupList(HKEY product)
{
    HKEY groups;
    if (RegOpenKeyExW(product, SUBKEY_GROUP_LIST, 0, KEY_READ, &groups) != ERROR_SUCCESS)
        return;  // no per-VLAN logoff servers: the product key's pair serves every VLAN
    for (DWORD index = 0;; index++) {
        WCHAR name[CONFIG_TEXT_CHARS];
        DWORD chars = ARRAYSIZE(name);
        if (RegEnumKeyExW(groups, index, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        CheckGroupEntry(groups, name);
    }
    RegCloseKey(groups);
}

static void CheckProductKey()
{
    Finding finding;
    HKEY product;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, 0, KEY_READ, &product);
    if (rc != ERROR_SUCCESS) {
        if (rc == ERROR_FILE_NOT_FOUND)
            Find(&finding, CHECK_FAULT, IDS_KEY_MISSING, L"HKLM\\" PRODUCT_KEY_PATH);
        else
            CouldNotRead(&finding, L"RegOpenKeyEx", (DWORD)rc);
        ReportWithLabel(IDS_LABEL_PRODUCT_KEY, &finding);
        return;
    }
    Holds(&finding, NULL);
    ReportWithLabel(IDS_LABEL_PRODUCT_KEY, &finding);
    CheckServerPair(product, VALUE_VLAN_LOGON_SERVER, VALUE_VLAN_LOGON_PORT, IDS_LABEL_LOGON_SERVER);
    CheckServerPair(product, VALUE_VLAN_LOGOFF_SERVER, VALUE_VLAN_LOGOFF_PORT,
                    IDS_LABEL_LOGOFF_SERVER);
    for (const auto &row : OTHER_VALUES) {
        CheckOtherValue(product, row.name, row.kind, &finding);
        Report(row.name, &finding);
    }
    CheckGroupList(product);
    RegCloseKey(product);
}

// ---- the tile and the tray client

// A registry string under HKEY_LOCAL_MACHINE, terminated; name NULL for the default.
static LONG ReadMachineString(LPCWSTR path, LPCWSTR name, LPWSTR text, DWORD chars)
{
    text[0] = L'\0';
    DWORD bytes = chars * sizeof(WCHAR);
    LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_SZ, NULL, text, &bytes);
    if (rc != ERROR_SUCCESS)
        text[0] = L'\0';
    return rc;
}

// A registration value must hold `expected`; FALSE with the finding set otherwise.
static BOOL CheckRegistrationValue(LPCWSTR path, LPCWSTR name, LPCWSTR expected, BOOL fileName,
                                   Finding *finding)
{
    WCHAR text[CONFIG_TEXT_CHARS];
    WCHAR shown[CHECK_TEXT_CHARS];
    _snwprintf(shown, ARRAYSIZE(shown), L"HKLM\\%ls%ls%ls", path, name ? L"\\" : L"",
               name ? name : L"");
    shown[ARRAYSIZE(shown) - 1] = L'\0';
    LONG rc = ReadMachineString(path, name, text, ARRAYSIZE(text));
    if (rc == ERROR_FILE_NOT_FOUND) {
        Find(finding, CHECK_FAULT, IDS_TILE_NOT_REGISTERED, shown);
        return FALSE;
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_UNSUPPORTED_TYPE && rc != ERROR_MORE_DATA) {
        CouldNotRead(finding, L"RegGetValue", (DWORD)rc);
        return FALSE;
    }
    // The module may be named with its folder; the logon screen finds it either way.
    LPCWSTR compared = fileName ? FileNamePart(text) : text;
    if (rc != ERROR_SUCCESS || _wcsicmp(compared, expected) != 0) {
        Find(finding, CHECK_FAULT, IDS_REG_VALUE_MISMATCH, shown, text, expected);
        return FALSE;
    }
    return TRUE;
}

// The export directory of a module mapped as an image, bounds checked against its size.
static BOOL ExportsName(const BYTE *base, SIZE_T size, const char *wanted)
{
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if ((SIZE_T)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) > size)
        return FALSE;
    const IMAGE_NT_HEADERS64 *nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0 ||
        (SIZE_T)directory.VirtualAddress + sizeof(IMAGE_EXPORT_DIRECTORY) > size)
        return FALSE;
    const IMAGE_EXPORT_DIRECTORY *exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + directory.VirtualAddress);
    if ((SIZE_T)exports->AddressOfNames + (SIZE_T)exports->NumberOfNames * sizeof(DWORD) > size)
        return FALSE;
    const DWORD *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    size_t wantedLength = strlen(wanted);
    for (DWORD i = 0; i < exports->NumberOfNames; i++) {
        if ((SIZE_T)names[i] + wantedLength + 1 > size)
            continue;
        if (memcmp(base + names[i], wanted, wantedLength + 1) == 0)
            return TRUE;
    }
    return FALSE;
}

// The machine field of a PE file, read from its headers; 0 when it is not one.
static WORD ImageMachine(HANDLE file, WORD *magic)
{
    BYTE headers[1024];
    DWORD read = 0;
    *magic = 0;
    if (!ReadFile(file, headers, sizeof(headers), &read, NULL) || read < sizeof(IMAGE_DOS_HEADER))
        return 0;
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(headers);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        (DWORD)dos->e_lfanew + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + sizeof(WORD) > read)
        return 0;
    const BYTE *pe = headers + dos->e_lfanew;
    if (memcmp(pe, "PE\0\0", 4) != 0)
        return 0;
    const IMAGE_FILE_HEADER *header = reinterpret_cast<const IMAGE_FILE_HEADER *>(pe + 4);
    memcpy(magic, pe + 4 + sizeof(IMAGE_FILE_HEADER), sizeof(WORD));
    return header->Machine;
}

static void CheckTileModule(Finding *finding)
{
    WCHAR path[MAX_PATH + 16];
    UINT chars = GetSystemDirectoryW(path, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        CouldNotRead(finding, L"GetSystemDirectory", GetLastError());
        return;
    }
    wcscat(path, L"\\" PROVIDER_DLL_NAME);
    if (!FileExists(path)) {
        Find(finding, CHECK_FAULT, IDS_TILE_MODULE_MISSING, path);
        return;
    }
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            Find(finding, CHECK_NOT_MADE, IDS_CHECK_NEEDS_ADMIN);
        else
            Find(finding, CHECK_FAULT, IDS_FILE_UNREADABLE, path, (int)error);
        return;
    }
    WORD magic;
    WORD machine = ImageMachine(file, &magic);
    // This program is 64-bit, so the system and its logon screen are too.
    if (machine != IMAGE_FILE_MACHINE_AMD64 || magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        Find(finding, CHECK_FAULT, IDS_TILE_NOT_64BIT, path, (unsigned)machine);
        CloseHandle(file);
        return;
    }
    // Mapped as an image, never loaded: none of its code runs here.
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
    DWORD error = mapping == NULL ? GetLastError() : ERROR_SUCCESS;
    const BYTE *base = mapping != NULL
                           ? static_cast<const BYTE *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))
                           : NULL;
    if (mapping != NULL && base == NULL)
        error = GetLastError();
    CloseHandle(file);
    if (base == NULL) {
        Find(finding, CHECK_FAULT, IDS_FILE_UNREADABLE, path, (int)error);
    } else {
        // The headers were checked above; the image's size bounds every read.
        const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        const IMAGE_NT_HEADERS64 *nt =
            reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
        SIZE_T size = nt->OptionalHeader.SizeOfImage;
        static const char *const EXPORTS[] = {"DllGetClassObject", "DllCanUnloadNow"};
        const char *missing = NULL;
        for (const char *name : EXPORTS) {
            if (missing == NULL && !ExportsName(base, size, name))
                missing = name;
        }
        if (missing != NULL) {
            WCHAR wide[32];
            MultiByteToWideChar(CP_ACP, 0, missing, -1, wide, ARRAYSIZE(wide));
            Find(finding, CHECK_FAULT, IDS_TILE_NO_EXPORT, path, wide);
        } else {
            Holds(finding, path);
        }
        UnmapViewOfFile(base);
    }
    if (mapping != NULL)
        CloseHandle(mapping);
}

static void CheckTile()
{
    static const WCHAR ENTRY_KEY[] = CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT;
    static const WCHAR INPROC_KEY[] = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT L"\\InprocServer32";
    Finding finding;
    if (CheckRegistrationValue(ENTRY_KEY, NULL, PROVIDER_CLASS_NAME, FALSE, &finding))
        Holds(&finding, NULL);
    ReportWithLabel(IDS_LABEL_TILE_ENTRY, &finding);

    if (CheckRegistrationValue(INPROC_KEY, NULL, PROVIDER_DLL_NAME, TRUE, &finding) &&
        CheckRegistrationValue(INPROC_KEY, L"ThreadingModel", L"Apartment", FALSE, &finding))
        Holds(&finding, NULL);
    ReportWithLabel(IDS_LABEL_TILE_CLASS, &finding);

    CheckTileModule(&finding);
    ReportWithLabel(IDS_LABEL_TILE_MODULE, &finding);
}

static void CheckTray()
{
    Finding finding;
    WCHAR command[CONFIG_TEXT_CHARS * 2];
    LONG rc = ReadMachineString(RUN_KEY, RUN_VALUE_NAME, command, ARRAYSIZE(command));
    WCHAR program[CONFIG_TEXT_CHARS * 2];
    BOOL unsafe;
    CommandProgram(command, program, ARRAYSIZE(program), &unsafe);
    if (rc == ERROR_FILE_NOT_FOUND)
        Find(&finding, CHECK_FAULT, IDS_TRAY_NOT_REGISTERED, RUN_VALUE_NAME, L"HKLM\\" RUN_KEY);
    else if (rc != ERROR_SUCCESS)
        CouldNotRead(&finding, L"RegGetValue", (DWORD)rc);
    else if (unsafe)
        Find(&finding, CHECK_FAULT, IDS_TRAY_PATH_UNQUOTED, command);
    else if (_wcsicmp(FileNamePart(program), TRAY_EXE_NAME) != 0)
        Find(&finding, CHECK_FAULT, IDS_TRAY_NOT_WARDTRAY, command, TRAY_EXE_NAME);
    else if (!FileExists(program))
        Find(&finding, CHECK_FAULT, IDS_TRAY_MISSING, program);
    else
        Holds(&finding, command);
    ReportWithLabel(IDS_LABEL_TRAY, &finding);
}

// ---- the network

// One connection attempt, shared with the thread that makes it: whichever lets go last
// frees it, so an attempt that outlives its wait still has its block to write into.
struct Probe {
    LONG references;
    HANDLE done;
    char address[VLAN_TEXT_BYTES];
    u_short port;
    ULONGLONG deadline;
    BOOL resolved;
    int error;
};

static void ReleaseProbe(Probe *probe)
{
    if (InterlockedDecrement(&probe->references) != 0)
        return;
    CloseHandle(probe->done);
    free(probe);
}

static int ConnectOnce(const Probe *probe, const IN_ADDR *address)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(probe->port);
    to.sin_addr = *address;
    u_long nonBlocking = 1;
    int error = 0;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        error = WSAGetLastError();
    } else if (connect(s, reinterpret_cast<sockaddr *>(&to), sizeof(to)) == SOCKET_ERROR) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            ULONGLONG now = GetTickCount64();
            DWORD left = now < probe->deadline ? (DWORD)(probe->deadline - now) : 0;
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval bound = {(long)(left / 1000), (long)(left % 1000) * 1000};
            int ready = select(0, NULL, &writable, &failed, &bound);
            if (ready == SOCKET_ERROR) {
                error = WSAGetLastError();
            } else if (ready == 0) {
                error = WSAETIMEDOUT;
            } else {
                int length = sizeof(error);
                error = 0;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length);
                if (error == 0 && FD_ISSET(s, &failed))
                    error = WSAECONNREFUSED;
            }
        }
    }
    // Nothing is sent: the DE-Zeruzu sees a connection that closes at once.
    closesocket(s);
    return error;
}

static DWORD WINAPI ProbeThread(LPVOID parameter)
{
    Probe *probe = static_cast<Probe *>(parameter);
    IN_ADDR address;
    int error = 0;
    if (inet_pton(AF_INET, probe->address, &address) != 1) {
        ADDRINFOA hints = {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOA *found = NULL;
        error = getaddrinfo(probe->address, NULL, &hints, &found);
        if (error == 0) {
            error = WSAHOST_NOT_FOUND;
            for (ADDRINFOA *entry = found; entry != NULL; entry = entry->ai_next) {
                if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
                    address = reinterpret_cast<sockaddr_in *>(entry->ai_addr)->sin_addr;
                    error = 0;
                    break;
                }
            }
            freeaddrinfo(found);
        }
    }
    probe->resolved = error == 0;
    if (error == 0)
        error = ConnectOnce(probe, &address);
    probe->error = error;
    SetEvent(probe->done);
    ReleaseProbe(probe);
    return 0;
}

static void CheckEndpoint(const Endpoint *endpoint)
{
    Finding finding;
    if (!endpoint->usable) {
        Find(&finding, CHECK_SKIPPED, IDS_NET_NOT_CONFIGURED);
        Report(endpoint->label, &finding);
        return;
    }
    Probe *probe = static_cast<Probe *>(calloc(1, sizeof(Probe)));
    HANDLE thread = NULL;
    if (probe != NULL)
        probe->done = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (probe == NULL || probe->done == NULL) {
        CouldNotRead(&finding, L"CreateEvent", ERROR_OUTOFMEMORY);
        Report(endpoint->label, &finding);
        free(probe);
        return;
    }
    lstrcpynA(probe->address, endpoint->address, sizeof(probe->address));
    probe->port = (u_short)endpoint->port;
    ULONGLONG start = GetTickCount64();
    probe->deadline = start + TimeLimits().checkNetworkMs;
    probe->references = 2;
    thread = CreateThread(NULL, 0, ProbeThread, probe, 0, NULL);
    if (thread == NULL) {
        probe->references = 1;
        CouldNotRead(&finding, L"CreateThread", GetLastError());
    } else {
        CloseHandle(thread);
        BOOL answered = WaitForSingleObject(probe->done, TimeLimits().checkNetworkMs) == WAIT_OBJECT_0;
        int elapsed = (int)(GetTickCount64() - start);
        WCHAR address[VLAN_SERVER_CHARS];
        MultiByteToWideChar(CP_ACP, 0, probe->address, -1, address, ARRAYSIZE(address));
        if (!answered || probe->error == WSAETIMEDOUT)
            Find(&finding, CHECK_FAULT, IDS_NET_TIMEOUT, (int)(TimeLimits().checkNetworkMs / 1000));
        else if (!probe->resolved)
            Find(&finding, CHECK_FAULT, IDS_NET_UNRESOLVED, address, probe->error);
        else if (probe->error != 0)
            Find(&finding, CHECK_FAULT, IDS_NET_FAILED, probe->error, elapsed);
        else
            Find(&finding, CHECK_HOLDS, IDS_NET_OK, elapsed);
    }
    Report(endpoint->label, &finding);
    ReleaseProbe(probe);
}

// ---- the diagnostic log

// The folder may be written by SYSTEM, Administrators and TrustedInstaller only, and
// must be theirs; write here means adding, deleting or renaming entries, or changing
// who may.
static void CheckLogFolder(LPCWSTR folder, Finding *finding)
{
    static const DWORD WRITE_RIGHTS = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Find(finding, CHECK_FAULT, IDS_LOG_FOLDER_MISSING, folder);
        return;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        Find(finding, CHECK_FAULT, IDS_LOG_LINK, folder);
        return;
    }
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, NULL, &dacl, NULL, &descriptor);
    if (error != ERROR_SUCCESS) {
        CouldNotRead(finding, L"GetNamedSecurityInfo", error);
        return;
    }
    WCHAR who[CHECK_TEXT_CHARS];
    finding->result = CHECK_HOLDS;
    if (owner == NULL || !IsAdministrativeSid(owner)) {
        AccountName(owner, who, ARRAYSIZE(who));
        Find(finding, CHECK_FAULT, IDS_LOG_FOLDER_OWNER, folder, who);
    } else if (dacl == NULL) {
        // No list at all lets everyone do everything.
        PSID everyone = NULL;
        ConvertStringSidToSidW(L"S-1-1-0", &everyone);
        AccountName(everyone, who, ARRAYSIZE(who));
        LocalFree(everyone);
        Find(finding, CHECK_FAULT, IDS_LOG_FOLDER_UNSAFE, who, folder);
    } else {
        for (WORD i = 0; i < dacl->AceCount && finding->result == CHECK_HOLDS; i++) {
            ACE_HEADER *header;
            if (!GetAce(dacl, i, reinterpret_cast<void **>(&header)))
                continue;
            // Entries that only pass on to what is created inside do not grant on the folder.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
                continue;
            ACCESS_ALLOWED_ACE *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
            PSID sid = &ace->SidStart;
            if ((ace->Mask & WRITE_RIGHTS) != 0 && !IsAdministrativeSid(sid)) {
                AccountName(sid, who, ARRAYSIZE(who));
                Find(finding, CHECK_FAULT, IDS_LOG_FOLDER_UNSAFE, who, folder);
            }
        }
    }
    LocalFree(descriptor);
}

// An existing log file must be neither a link nor anybody else's; a missing one is
// created by the service.
static void CheckLogFile(LPCWSTR path, Finding *finding)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        Find(finding, CHECK_FAULT, IDS_LOG_LINK, path);
        return;
    }
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        CouldNotRead(finding, L"CreateFile", GetLastError());
        return;
    }
    BY_HANDLE_FILE_INFORMATION information;
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error;
    if (!GetFileInformationByHandle(file, &information)) {
        CouldNotRead(finding, L"GetFileInformationByHandle", GetLastError());
    } else if (information.nNumberOfLinks > 1) {
        Find(finding, CHECK_FAULT, IDS_LOG_LINK, path);
    } else if ((error = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        NULL, NULL, NULL, &descriptor)) != ERROR_SUCCESS) {
        CouldNotRead(finding, L"GetSecurityInfo", error);
    } else if (owner == NULL || !IsTrustedSid(owner)) {
        WCHAR who[CHECK_TEXT_CHARS];
        AccountName(owner, who, ARRAYSIZE(who));
        Find(finding, CHECK_FAULT, IDS_LOG_FILE_OWNER, path, who);
    }
    if (descriptor != NULL)
        LocalFree(descriptor);
    CloseHandle(file);
}

static void CheckLog()
{
    Finding finding;
    // Read as the service reads it: the ANSI call, the data whatever its type.
    char pathA[MAX_PATH * 2] = "";
    DWORD bytes = sizeof(pathA) - 1;
    HKEY key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH_A, 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) {
        rc = RegQueryValueExA(key, VALUE_LOG_FILE_A, NULL, NULL, reinterpret_cast<BYTE *>(pathA),
                              &bytes);
        RegCloseKey(key);
    }
    if (rc == ERROR_SUCCESS)
        pathA[bytes < sizeof(pathA) ? bytes : sizeof(pathA) - 1] = '\0';
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && pathA[0] == '\0')) {
        WCHAR detail[CHECK_TEXT_CHARS];
        FormatText(detail, IDS_LOG_NOT_SET);
        Holds(&finding, detail);
        ReportWithLabel(IDS_LABEL_LOG, &finding);
        return;
    }
    if (rc != ERROR_SUCCESS) {
        if (rc == ERROR_MORE_DATA)
            Find(&finding, CHECK_FAULT, IDS_VALUE_TOO_LONG, (int)(MAX_PATH * 2 - 1));
        else
            CouldNotRead(&finding, L"RegQueryValueEx", (DWORD)rc);
        ReportWithLabel(IDS_LABEL_LOG, &finding);
        return;
    }
    WCHAR path[MAX_PATH * 2];
    if (MultiByteToWideChar(CP_ACP, 0, pathA, -1, path, ARRAYSIZE(path)) == 0)
        path[0] = L'\0';
    // The C library opens "C:/logs/x.log" as well.
    for (LPWSTR p = path; *p != L'\0'; p++) {
        if (*p == L'/')
            *p = L'\\';
    }
    LPWSTR slash = wcsrchr(path, L'\\');
    BOOL full = slash != NULL && ((path[0] == L'\\' && path[1] == L'\\') ||
                                  (iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\'));
    if (!full) {
        Find(&finding, CHECK_FAULT, IDS_LOG_NOT_FULL_PATH, path);
        ReportWithLabel(IDS_LABEL_LOG, &finding);
        return;
    }
    WCHAR folder[MAX_PATH * 2];
    lstrcpynW(folder, path, (int)(slash - path) + 1 + (slash == path + 2 ? 1 : 0));
    CheckLogFolder(folder, &finding);
    if (finding.result == CHECK_HOLDS) {
        CheckLogFile(path, &finding);
        if (finding.result == CHECK_HOLDS)
            Holds(&finding, path);
    }
    ReportWithLabel(IDS_LABEL_LOG, &finding);
}

// ---- entry

int SelfCheckCommand(int argc, char **argv)
{
    if (argc < 2 || (argv[1][0] != '-' && argv[1][0] != '/') || _stricmp(argv[1] + 1, "check") != 0)
        return SELF_CHECK_NOT_ASKED;
    WCHAR line[CHECK_TEXT_CHARS];
    if (argc > 2) {
        FormatText(line, IDS_CHECK_USAGE);
        WriteLine(line);
        return SELF_CHECK_USAGE;
    }
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);

    DWORD serviceProcessId = CheckService();
    CheckPipe(serviceProcessId);
    CheckProductKey();
    CheckTile();
    CheckTray();
    for (int i = 0; i < g_endpointCount; i++)
        CheckEndpoint(&g_endpoints[i]);
    CheckLog();

    if (g_tally.faults > 0)
        FormatText(line, IDS_CHECK_SUMMARY_FAULTS, g_tally.faults, g_tally.checks);
    else
        FormatText(line, IDS_CHECK_SUMMARY_OK, g_tally.checks - g_tally.notMade);
    WriteLine(line);
    if (g_tally.notMade > 0) {
        FormatText(line, IDS_CHECK_SUMMARY_NOT_MADE, g_tally.notMade);
        WriteLine(line);
    }
    free(g_endpoints);
    g_endpoints = NULL;
    g_endpointCount = 0;
    WSACleanup();
    return g_tally.faults > 0 ? SELF_CHECK_FAULT : SELF_CHECK_HOLDS;
}
