// The service's optional diagnostic log: one line per call, the file opened for appending
// and closed again each time so that it can be read, moved or deleted at any moment. The
// service runs as LocalSystem, so the file is only ever written when no one else could
// have chosen what it is: never through a link, never one another account owns, and a
// file it creates itself is readable and writable by SYSTEM and Administrators only.
#include "wardhost.h"
#include "product_key.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

const char LOG_PASSWORD_MASK[] = "********";

// The one DACL of a log the service creates: SYSTEM and Administrators, nothing inherited.
static const WCHAR LOG_FILE_SDDL[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

enum {
    LOG_MESSAGE_BYTES = 1024,  // a formatted message is cut to this
    // Every byte may become four ("\x0a"), plus the prefix and CR LF.
    LOG_LINE_BYTES = LOG_MESSAGE_BYTES * 4 + 64,
};

static WCHAR *g_logPath;  // null while logging is off

static void ReadLogPath()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH_A, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(key, VALUE_LOG_FILE_A, NULL, NULL, NULL, &size) == ERROR_SUCCESS &&
        size > 0) {
        // One byte more than the data, zero-filled, so that the path always ends inside
        // the block, whatever was stored (no terminator, an odd length, another type).
        char *path = static_cast<char *>(calloc(size + 1, 1));
        DWORD read = size;
        if (path != NULL &&
            RegQueryValueExA(key, VALUE_LOG_FILE_A, NULL, NULL, reinterpret_cast<BYTE *>(path),
                             &read) == ERROR_SUCCESS &&
            read <= size) {
            path[size] = '\0';
            int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
            WCHAR *wide = chars > 1 ? static_cast<WCHAR *>(calloc(chars, sizeof(WCHAR))) : NULL;
            if (wide != NULL && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, chars) == chars)
                g_logPath = wide;
            else
                free(wide);
        }
        free(path);
    }
    RegCloseKey(key);
}

// Whether sid is the user of this process's token: LocalSystem for the service.
static BOOL IsOwnAccount(PSID sid)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    BOOL own = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
               EqualSid(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, sid);
    CloseHandle(token);
    return own;
}

// A file another account owns holds what that account wrote, and its owner may change
// its DACL at will.
static BOOL IsOwnedBySystemOrAdministrators(HANDLE file)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL,
                        NULL, &descriptor) != ERROR_SUCCESS)
        return FALSE;
    BOOL trusted = owner != NULL && IsValidSid(owner) &&
                   (IsWellKnownSid(owner, WinLocalSystemSid) ||
                    IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsOwnAccount(owner));
    LocalFree(descriptor);
    return trusted;
}

// A reparse point (symbolic link, junction) or a second name for the file (a hard link)
// would let whoever planted it choose which file LocalSystem appends to.
static BOOL IsSafeLogFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return FALSE;
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    if (information.nNumberOfLinks != 1)
        return FALSE;
    return IsOwnedBySystemOrAdministrators(file);
}

// The log file opened for appending, or INVALID_HANDLE_VALUE when it is absent and can't be
// created, or when it is refused.
static HANDLE OpenLogFile()
{
    // Append access only: every write goes to the end, whatever else has the file open.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // The link itself is opened, never what it points to.
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = INVALID_HANDLE_VALUE;
    // Twice at most: a name planted between the two calls is opened and checked.
    for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; attempt++) {
        file = CreateFileW(g_logPath, access, share, NULL, OPEN_EXISTING, flags, NULL);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND)
            break;
        PSECURITY_DESCRIPTOR descriptor = NULL;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(LOG_FILE_SDDL, SDDL_REVISION_1,
                                                                  &descriptor, NULL))
            return INVALID_HANDLE_VALUE;
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, /*inherit*/ FALSE};
        file = CreateFileW(g_logPath, access, share, &attributes, CREATE_NEW, flags, NULL);
        DWORD error = GetLastError();
        LocalFree(descriptor);
        if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS)
            break;
    }
    if (file != INVALID_HANDLE_VALUE && !IsSafeLogFile(file)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    return file;
}

// Control characters become "\xNN", so that no text from a client or from the switch can
// end a line and forge the next.
static int EscapeControlCharacters(const char *text, char *out, int outBytes)
{
    static const char HEX[] = "0123456789abcdef";
    int used = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; p++) {
        if (*p < 0x20 || *p == 0x7F) {
            if (used + 4 >= outBytes)
                break;
            out[used++] = '\\';
            out[used++] = 'x';
            out[used++] = HEX[*p >> 4];
            out[used++] = HEX[*p & 0x0F];
        } else {
            if (used + 1 >= outBytes)
                break;
            out[used++] = (char)*p;
        }
    }
    out[used] = '\0';
    return used;
}

void LogOpen()
{
    ReadLogPath();
    LogPrint("*** START Portgate for Vista Service ***");
}

void LogPrint(const char *format, ...)
{
    if (g_logPath == NULL)
        return;
    char message[LOG_MESSAGE_BYTES];
    va_list args;
    va_start(args, format);
    int formatted = vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (formatted < 0)
        return;

    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[LOG_LINE_BYTES];
    int used = snprintf(line, sizeof(line), "%02d:%02d:%02d.%03d [SERVICE ] ", now.wHour,
                        now.wMinute, now.wSecond, now.wMilliseconds);
    used += EscapeControlCharacters(message, line + used, (int)sizeof(line) - used - 2);
    line[used++] = '\r';
    line[used++] = '\n';
    SecureZeroMemory(message, sizeof(message));

    HANDLE file = OpenLogFile();
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, line, (DWORD)used, &written, NULL);
        CloseHandle(file);
    }
    SecureZeroMemory(line, sizeof(line));
}

void LogClose()
{
    LogPrint("*** STOP Portgate for Vista Service ***");
    free(g_logPath);
    g_logPath = NULL;
}
