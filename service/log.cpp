// The service's optional diagnostic log: one line per call, the file opened in append
// mode and closed again each time so that it can be read, moved or deleted at any moment.
#include "wardhost.h"
#include "../config/product_key.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

const char LOG_PASSWORD_MASK[] = "********";

static char *g_logPath;  // null while logging is off

static void ReadLogPath()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH_A, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(key, VALUE_LOG_FILE_A, NULL, NULL, NULL, &size) == ERROR_SUCCESS &&
        size > 0) {
        // One byte more than stored so that a path saved without terminator ends in one.
        char *path = static_cast<char *>(calloc(size + 1, 1));
        if (path != NULL) {
            if (RegQueryValueExA(key, VALUE_LOG_FILE_A, NULL, NULL,
                                 reinterpret_cast<BYTE *>(path), &size) == ERROR_SUCCESS &&
                path[0] != '\0')
                g_logPath = path;
            else
                free(path);
        }
    }
    RegCloseKey(key);
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
    FILE *file = fopen(g_logPath, "a");
    if (file == NULL)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(file, "%02d:%02d:%02d.%03d [SERVICE ] ", now.wHour, now.wMinute, now.wSecond,
            now.wMilliseconds);
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

void LogClose()
{
    LogPrint("*** STOP Portgate for Vista Service ***");
    free(g_logPath);
    g_logPath = NULL;
}
