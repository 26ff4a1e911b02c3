// What the DE-Zeruzu logon and logoff dialogues share: the server-address template, the
// prompt-table walker and reply line, the connection set-up with its overall time-out,
// the single receive and the socket close.
#include "wardhost.h"
#include "net_platform.h"
#include "operation_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "wardhost_res.h"

#include <ws2tcpip.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// ---- server-address template

int ExpandServerTemplateWith(LPWSTR server, int bufferBytes, const BYTE *localAddress)
{
    char text[VLAN_TEXT_BYTES];
    if (WideCharToMultiByte(CP_ACP, 0, server, -1, text, sizeof(text), NULL, NULL) == 0)
        return 0;
    // Without a local address the text stays as it is, so the connection step fails
    // naming the template the administrator wrote.
    if (strchr(text, '*') == NULL || localAddress == NULL)
        return 0;

    const char *fields[4];
    int count = 0;
    char *cursor = text;
    while (count < 4 && *cursor != '\0') {
        char *dot = strchr(cursor, '.');
        if (dot != NULL)
            *dot = '\0';
        if (*cursor != '\0')
            fields[count++] = cursor;
        if (dot == NULL)
            break;
        cursor = dot + 1;
    }

    char result[VLAN_TEXT_BYTES] = "";
    size_t used = 0;
    for (int i = 0; i < count; i++) {
        char field[VLAN_TEXT_BYTES];
        if (strcmp(fields[i], "*") == 0)
            snprintf(field, sizeof(field), "%u", (unsigned)localAddress[i]);
        else
            snprintf(field, sizeof(field), "%s", fields[i]);
        int written = snprintf(result + used, sizeof(result) - used, "%s%s", i ? "." : "", field);
        if (written < 0 || used + written >= sizeof(result))
            break;
        used += written;
    }
    int chars = bufferBytes / (int)sizeof(WCHAR);
    if (chars <= 0)
        return 0;
    if (MultiByteToWideChar(CP_ACP, 0, result, -1, server, chars) == 0)
        server[chars - 1] = L'\0';  // cut to the caller's buffer
    return 1;
}

// Addresses that are no one's address (0/8), this machine's loopback (127/8) and
// link-local ones (169.254/16, given when DHCP found no server) would send the
// credentials to a host no administrator configured: 127.0.0.254 is wherever a local
// process listens.
static BOOL IsUsableOwnAddress(const BYTE *octets)
{
    return octets[0] != 0 && octets[0] != 127 && !(octets[0] == 169 && octets[1] == 254);
}

BOOL FindOwnIPv4Address(BYTE address[4])
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = 16 * 1024;
    PIP_ADAPTER_ADDRESSES adapters = NULL;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the size query and the fetch: a few tries.
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; attempt++) {
        free(adapters);
        adapters = static_cast<PIP_ADAPTER_ADDRESSES>(malloc(size));
        if (adapters == NULL)
            return FALSE;
        rc = NetCalls().getAdaptersAddresses(AF_INET, flags, NULL, adapters, &size);
    }
    BOOL found = FALSE;
    if (rc == NO_ERROR) {
        for (PIP_ADAPTER_ADDRESSES adapter = adapters; adapter != NULL && !found;
             adapter = adapter->Next) {
            if (adapter->OperStatus != IfOperStatusUp ||
                adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
                continue;
            for (PIP_ADAPTER_UNICAST_ADDRESS unicast = adapter->FirstUnicastAddress;
                 unicast != NULL && !found; unicast = unicast->Next) {
                const SOCKET_ADDRESS &at = unicast->Address;
                if (at.lpSockaddr == NULL || at.lpSockaddr->sa_family != AF_INET ||
                    at.iSockaddrLength < (INT)sizeof(sockaddr_in))
                    continue;
                const BYTE *octets = reinterpret_cast<const BYTE *>(
                    &reinterpret_cast<const sockaddr_in *>(at.lpSockaddr)->sin_addr);
                if (IsUsableOwnAddress(octets)) {
                    memcpy(address, octets, 4);
                    found = TRUE;
                }
            }
        }
    }
    free(adapters);
    return found;
}

int ExpandServerTemplate(LPWSTR server, int bufferBytes)
{
    char text[VLAN_TEXT_BYTES];
    if (WideCharToMultiByte(CP_ACP, 0, server, -1, text, sizeof(text), NULL, NULL) == 0 ||
        strchr(text, '*') == NULL)
        return 0;
    // Without a usable address of its own the text keeps its "*", which the connection
    // step refuses.
    BYTE localAddress[4];
    if (!FindOwnIPv4Address(localAddress))
        return 0;
    return ExpandServerTemplateWith(server, bufferBytes, localAddress);
}

// A field inet_addr reads as a number: decimal, octal or 0x-hex digits, or empty.
static BOOL IsNumericField(const char *field, size_t length)
{
    size_t start = 0;
    BOOL hex = length >= 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X');
    if (hex)
        start = 2;
    for (size_t i = start; i < length; i++) {
        char c = field[i];
        BOOL digit = c >= '0' && c <= '9';
        BOOL hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(hex && hexLetter))
            return FALSE;
    }
    return TRUE;
}

// Four decimal fields of 0 to 255 without leading zeros, nothing else.
static BOOL ParseStrictDottedQuad(const char *text, IN_ADDR *address)
{
    BYTE octets[4];
    const char *p = text;
    for (int field = 0; field < 4; field++) {
        if (field > 0 && *p++ != '.')
            return FALSE;
        if (*p < '0' || *p > '9')
            return FALSE;
        unsigned value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; p++, digits++) {
            value = value * 10 + (unsigned)(*p - '0');
            if (digits >= 3 || value > 255)
                return FALSE;
        }
        if (digits > 1 && p[-digits] == '0')
            return FALSE;
        octets[field] = (BYTE)value;
    }
    if (*p != '\0')
        return FALSE;
    memcpy(address, octets, 4);
    return TRUE;
}

ServerAddressKind ClassifyServerAddress(const char *text, IN_ADDR *address)
{
    if (text[0] == '\0')
        return SERVER_ADDRESS_REFUSED;
    // The resolver reads every text that inet_addr reads ("127.1", "0x7f.0.0.1",
    // "3232235777") as an address, another one than the text seems to name.
    BOOL numeric = TRUE;
    for (const char *field = text; numeric;) {
        const char *dot = strchr(field, '.');
        size_t length = dot != NULL ? (size_t)(dot - field) : strlen(field);
        numeric = IsNumericField(field, length);
        if (dot == NULL)
            break;
        field = dot + 1;
    }
    if (numeric)
        return ParseStrictDottedQuad(text, address) ? SERVER_ADDRESS_NUMERIC
                                                    : SERVER_ADDRESS_REFUSED;
    // A name: letters, digits, "-", "_" and ".", and characters beyond ASCII; a "*" left
    // by a template, a blank or a control character is no part of one.
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; p++) {
        BOOL allowed = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                       (*p >= '0' && *p <= '9') || *p == '-' || *p == '_' || *p == '.' ||
                       *p >= 0x80;
        if (!allowed)
            return SERVER_ADDRESS_REFUSED;
    }
    return SERVER_ADDRESS_NAME;
}

// ---- prompt tables and reply lines

const PromptRule *FindPromptRule(const PromptRule *table, int rows, const char *text)
{
    for (int i = 0; i < rows; i++) {
        if (strstr(text, table[i].pattern) != NULL)
            return &table[i];
    }
    return NULL;
}

void VLANConnectionInit(VLANConnection *connection)
{
    connection->socket = INVALID_SOCKET;
    connection->deadline = 0;
    connection->serverClosed = FALSE;
}

// Prompts found in what the server left after its close are not answered, so the
// password is sent at most where the server asked for it.
BOOL SendPromptReply(VLANConnection *connection, const char *reply)
{
    if (connection->serverClosed || strlen(reply) > VLAN_REPLY_MAX_BYTES)
        return FALSE;
    char line[VLAN_TEXT_BYTES];
    int length = snprintf(line, sizeof(line), "%s\r\n", reply);
    send(connection->socket, line, length, 0);
    SecureZeroMemory(line, sizeof(line));  // it may have carried the password
    Sleep(TimeLimits().replyPauseMs);
    return TRUE;
}

DialogueTextResult ConvertToDialogueText(UINT codePage, LPCWSTR text, char *buffer,
                                         int bufferBytes)
{
    ZeroMemory(buffer, bufferBytes);
    if (text == NULL || text[0] == L'\0')
        return DIALOGUE_TEXT_OK;
    // Without these flags the conversion silently best-fits (a full-width "admin" becomes
    // "admin") or puts "?" in place of a character, and the switch would authenticate an
    // account other than the one typed. The UTF code pages know neither flag; they can
    // only refuse what is not valid UTF-16.
    BOOL utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    int written = WideCharToMultiByte(codePage, utf ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                      text, -1, buffer, bufferBytes, NULL,
                                      utf ? NULL : &usedDefault);
    if (written == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        SecureZeroMemory(buffer, bufferBytes);
        return DIALOGUE_TEXT_TOO_LONG;
    }
    DialogueTextResult result = DIALOGUE_TEXT_OK;
    if (written == 0 || usedDefault) {
        result = DIALOGUE_TEXT_NOT_CONVERTIBLE;
    } else if (written - 1 > VLAN_REPLY_MAX_BYTES) {
        // Cutting a user name or password would send a different one: refuse instead.
        result = DIALOGUE_TEXT_TOO_LONG;
    } else {
        // What the switch receives must read back as exactly what was typed.
        int chars = lstrlenW(text) + 1;
        WCHAR *back = static_cast<WCHAR *>(calloc(chars + 1, sizeof(WCHAR)));
        if (back == NULL || MultiByteToWideChar(codePage, 0, buffer, -1, back, chars + 1) != chars ||
            memcmp(back, text, chars * sizeof(WCHAR)) != 0)
            result = DIALOGUE_TEXT_NOT_CONVERTIBLE;
        if (back != NULL) {
            SecureZeroMemory(back, (chars + 1) * sizeof(WCHAR));
            free(back);
        }
    }
    if (result != DIALOGUE_TEXT_OK)
        SecureZeroMemory(buffer, bufferBytes);
    return result;
}

int ReadGroupNumber(const char *text)
{
    static const char *const PHRASES[] = {"Successfully moved to group",
                                          "Successfully moved to vlan"};
    for (const char *phrase : PHRASES) {
        const char *found = strstr(text, phrase);
        if (found != NULL)
            return (int)strtol(found + strlen(phrase), NULL, 10);
    }
    return 0;
}

// ---- connection

// A blocking connect to an unreachable address would hold the window's loop far beyond
// the dialogue's time-out, so the attempt is bounded by what is left of it. Failures
// carry the same error codes a blocking connect reports.
static int ConnectWithin(SOCKET socket, const sockaddr_in *to, ULONGLONG deadline)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR)
        return WSAGetLastError();
    if (connect(socket, reinterpret_cast<const sockaddr *>(to), sizeof(*to)) == 0)
        return 0;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return error;
    ULONGLONG now = GetTickCount64();
    DWORD left = now < deadline ? (DWORD)(deadline - now) : 0;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval bound = {(long)(left / 1000), (long)(left % 1000) * 1000};
    int ready = select(/*ignored*/ 0, NULL, &writable, &failed, &bound);
    if (ready == SOCKET_ERROR)
        return WSAGetLastError();
    if (ready == 0)
        return WSAETIMEDOUT;
    int socketError = 0;
    int length = sizeof(socketError);
    getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&socketError), &length);
    if (socketError == 0 && FD_ISSET(socket, &failed))
        socketError = WSAECONNREFUSED;
    return socketError;
}

// ---- bounded name resolution

// One resolution, shared by the dialogue and the thread that resolves: whichever lets go
// of it last frees it, so a dialogue that stops waiting leaves the thread a block it may
// still write into. The calls are taken when it starts, so a platform swapped later is
// not mixed with the one that answered.
struct Resolution {
    LONG references;
    HANDLE done;
    INT(WSAAPI *getAddrInfo)(PCSTR, PCSTR, const ADDRINFOA *, PADDRINFOA *);
    VOID(WSAAPI *freeAddrInfo)(PADDRINFOA);
    char name[VLAN_TEXT_BYTES];
    IN_ADDR address;
    int error;
};

static void ReleaseResolution(Resolution *resolution)
{
    if (InterlockedDecrement(&resolution->references) != 0)
        return;
    CloseHandle(resolution->done);
    free(resolution);
}

static DWORD WINAPI ResolveThread(LPVOID parameter)
{
    Resolution *resolution = static_cast<Resolution *>(parameter);
    ADDRINFOA hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOA *found = NULL;
    int error = resolution->getAddrInfo(resolution->name, /*service*/ NULL, &hints, &found);
    if (error == 0) {
        error = WSAHOST_NOT_FOUND;
        for (ADDRINFOA *entry = found; entry != NULL; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addr != NULL &&
                entry->ai_addrlen >= sizeof(sockaddr_in)) {
                resolution->address = reinterpret_cast<sockaddr_in *>(entry->ai_addr)->sin_addr;
                error = 0;
                break;
            }
        }
        resolution->freeAddrInfo(found);
    }
    resolution->error = error;
    SetEvent(resolution->done);
    ReleaseResolution(resolution);
    return 0;
}

// The resolver answers in its own time, which may be far beyond the dialogue's: it runs
// on a short-lived thread that the dialogue waits for only until the deadline. 0 with
// *address set, else the resolver's error, WSAETIMEDOUT when it did not answer in time.
static int ResolveWithin(const char *name, IN_ADDR *address, ULONGLONG deadline)
{
    Resolution *resolution = static_cast<Resolution *>(calloc(1, sizeof(Resolution)));
    if (resolution == NULL)
        return WSA_NOT_ENOUGH_MEMORY;
    resolution->done = CreateEventW(NULL, /*manualReset*/ TRUE, /*initialState*/ FALSE, NULL);
    if (resolution->done == NULL) {
        free(resolution);
        return WSA_NOT_ENOUGH_MEMORY;
    }
    resolution->references = 2;
    resolution->getAddrInfo = NetCalls().getAddrInfo;
    resolution->freeAddrInfo = NetCalls().freeAddrInfo;
    lstrcpynA(resolution->name, name, sizeof(resolution->name));
    HANDLE thread = CreateThread(NULL, 0, ResolveThread, resolution, 0, NULL);
    if (thread == NULL) {
        resolution->references = 1;
        ReleaseResolution(resolution);
        return WSA_NOT_ENOUGH_MEMORY;
    }
    CloseHandle(thread);
    ULONGLONG now = GetTickCount64();
    DWORD left = now < deadline ? (DWORD)(deadline - now) : 0;
    int error = WSAETIMEDOUT;
    if (WaitForSingleObject(resolution->done, left) == WAIT_OBJECT_0) {
        error = resolution->error;
        if (error == 0)
            *address = resolution->address;
    }
    ReleaseResolution(resolution);
    return error;
}

// ---- connection

// The configured text in the ANSI code page, only when it converts exactly: a text cut to
// nothing would name the workstation itself, and a best-fit or "?" character another host.
static BOOL ServerAddressText(LPCWSTR server, char *address, int addressBytes)
{
    address[0] = '\0';
    if (server[0] == L'\0' ||
        WideCharToMultiByte(CP_ACP, 0, server, -1, address, addressBytes, NULL, NULL) == 0) {
        address[0] = '\0';
        return FALSE;
    }
    WCHAR back[VLAN_SERVER_CHARS];
    if (MultiByteToWideChar(CP_ACP, 0, address, -1, back, ARRAYSIZE(back)) == 0 ||
        lstrcmpW(back, server) != 0) {
        address[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

BOOL VLANSocketConnect(HWND window, LPWSTR server, DWORD port, VLANConnection *connection,
                       const VLANServerTexts *texts)
{
    const DWORD limit = TimeLimits().dialogueMs;
    ULONGLONG deadline = GetTickCount64() + limit;
    connection->deadline = deadline;
    connection->serverClosed = FALSE;
    SOCKET *socketHandle = &connection->socket;
    SetTimer(window, VLAN_TIMEOUT_TIMER_ID, limit, /*callback*/ NULL);

    ExpandServerTemplate(server, VLAN_SERVER_CHARS * sizeof(WCHAR));
    char address[VLAN_TEXT_BYTES];
    BOOL converted = ServerAddressText(server, address, sizeof(address));
    LogPrint(texts->addressLine, address);
    LogPrint(texts->portLine, (int)port);
    if (!converted) {
        LogPrint("  server address does not convert to code page %u", GetACP());
        LoadResultMessage(texts->cannotConnectId, server);
        return FALSE;
    }

    if (port < PORT_MIN || port > PORT_MAX) {
        // The callers refuse such a port as not configured; this only keeps a port from
        // ever being cut to 16 bits.
        LoadResultMessage(texts->cannotConnectId, server);
        return FALSE;
    }
    IN_ADDR in;
    ServerAddressKind kind = ClassifyServerAddress(address, &in);
    if (kind == SERVER_ADDRESS_REFUSED) {
        LogPrint("  server address is neither a dotted address nor a host name");
        LoadResultMessage(texts->cannotConnectId, server);
        return FALSE;
    }
    if (kind == SERVER_ADDRESS_NAME) {
        int error = ResolveWithin(address, &in, deadline);
        if (error == WSAETIMEDOUT) {
            LogPrint("  getaddrinfo() gave no answer within %d ms", (int)limit);
        } else if (error != 0) {
            LogPrint("  getaddrinfo() error = %d", error);
        }
        if (error != 0) {
            LoadResultMessage(texts->cannotConnectId, server);
            return FALSE;
        }
    }

    *socketHandle = socket(AF_INET, SOCK_STREAM, /*protocol*/ 0);
    if (*socketHandle == INVALID_SOCKET) {
        int error = WSAGetLastError();
        LogPrint("  socket() error = %d", error);
        LoadResultMessage(IDS_SOCKET_ERROR, L"socket()", error);
        return FALSE;
    }

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)port);
    to.sin_addr = in;
    int error = ConnectWithin(*socketHandle, &to, deadline);
    if (error != 0) {
        LogPrint("  connect() error = 0x%08X", (unsigned)error);
        VLANSocketClose(connection);
        LoadResultMessage(texts->cannotConnectId, server);
        return FALSE;
    }

    if (WSAAsyncSelect(*socketHandle, window, WM_VLAN_SOCKET, FD_READ | FD_CLOSE) ==
        SOCKET_ERROR) {
        error = WSAGetLastError();
        LogPrint("  WSAAsyncSelect() error = 0x%08X", (unsigned)error);
        VLANSocketClose(connection);
        LoadResultMessage(IDS_SOCKET_ERROR, L"WSAAsyncSelect()", error);
        return FALSE;
    }
    return TRUE;
}

int VLANSocketReceive(SOCKET socket, char *buffer, int *error)
{
    ZeroMemory(buffer, VLAN_TEXT_BYTES + 1);
    // A zero-byte receive sets no error of its own; report this call's, not a stale one.
    WSASetLastError(0);
    int received = recv(socket, buffer, VLAN_TEXT_BYTES, /*flags*/ 0);
    *error = WSAGetLastError();
    return received;
}

void VLANSocketClose(VLANConnection *connection)
{
    LogPrint("VLANSocketClose()");
    if (connection->socket == INVALID_SOCKET)
        return;
    shutdown(connection->socket, SD_BOTH);
    closesocket(connection->socket);
    connection->socket = INVALID_SOCKET;
}

void VLANDialogueFail(HWND window, VLANConnection *connection, int error)
{
    VLANSocketClose(connection);
    LoadResultMessage(IDS_SOCKET_ERROR, L"recv()", error);
    EndDialog(window, OPERATION_FAILURE);
}

// FD_CLOSE may arrive with data still unread, and a reset brings no zero-byte receive at
// all: analyse what is left, which may hold the answer, then end the dialogue.
void VLANDialogueClosed(HWND window, VLANConnection *connection, int closeError,
                        PromptHandler analyze)
{
    LogPrint("  connection closed by the server, error = %d", closeError);
    char text[VLAN_TEXT_BYTES + 1];
    int error = closeError;
    connection->serverClosed = TRUE;
    // Bounded by the dialogue's deadline like every other wait: a server may have left
    // more behind than can be read in time.
    while (connection->socket != INVALID_SOCKET && GetTickCount64() < connection->deadline) {
        int received = VLANSocketReceive(connection->socket, text, &error);
        if (received <= 0)
            break;
        analyze(window, text);
    }
    connection->serverClosed = FALSE;
    if (connection->socket == INVALID_SOCKET)
        return;  // an answer in the remaining data ended the dialogue
    if (GetTickCount64() >= connection->deadline) {
        VLANDialogueTimedOut(window, connection);
        return;
    }
    VLANDialogueFail(window, connection, closeError != 0 ? closeError : error);
}

void VLANDialogueTimedOut(HWND window, VLANConnection *connection)
{
    KillTimer(window, VLAN_TIMEOUT_TIMER_ID);
    LogPrint("  no answer within %d ms", (int)TimeLimits().dialogueMs);
    VLANDialogueFail(window, connection, WSAETIMEDOUT);
}

// WM_TIMER is made only while no posted message waits, so a server that keeps sending
// keeps FD_READ queued and could hold the time-out off for ever.
BOOL VLANDialogueOutOfTime(HWND window, VLANConnection *connection)
{
    if (GetTickCount64() < connection->deadline)
        return FALSE;
    VLANDialogueTimedOut(window, connection);
    return TRUE;
}

// ---- configured port

LONG ReadServerPort(LPCWSTR subkey, LPCWSTR name, DWORD *port)
{
    *port = 0;
    WCHAR path[CONFIG_TEXT_CHARS * 2];
    if (subkey != NULL)
        _snwprintf(path, ARRAYSIZE(path), L"%ls\\%ls", PRODUCT_KEY_PATH, subkey);
    else
        _snwprintf(path, ARRAYSIZE(path), L"%ls", PRODUCT_KEY_PATH);
    path[ARRAYSIZE(path) - 1] = L'\0';
    DWORD value = 0;
    DWORD size = sizeof(value);
    // Typed: a REG_SZ "1" would otherwise read as port 49.
    LONG rc = RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_DWORD, NULL, &value, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    // Beyond 65535 it would be cut to another port: no port at all, as 0 is.
    if (value < PORT_MIN || value > PORT_MAX)
        return ERROR_INVALID_DATA;
    *port = value;
    return ERROR_SUCCESS;
}
