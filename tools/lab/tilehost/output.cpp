// tilehost's output: whole lines in UTF-8 on standard output (the console gets them as
// UTF-16), written under one lock so that the watcher's lines never split the others.
#include "tilehost.h"

#include <stdarg.h>
#include <stdio.h>

// Statically initialized, so that neither needs a first call before the threads start.
static SRWLOCK g_lock = SRWLOCK_INIT;
static const ULONGLONG g_start = GetTickCount64();

static void Write(BOOL stamped, const wchar_t *format, va_list args)
{
    wchar_t line[2048];
    ULONGLONG elapsed = GetTickCount64() - g_start;
    int used = stamped ? _snwprintf(line, 32, L"[%4llu.%03llu] ", elapsed / 1000, elapsed % 1000) : 0;
    if (used < 0)
        used = 0;
    _vsnwprintf(line + used, 2040 - used, format, args);
    line[2040] = L'\0';
    wcscat(line, L"\n");
    AcquireSRWLockExclusive(&g_lock);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line, (DWORD)wcslen(line), &written, NULL);
    } else {
        char bytes[8192];
        int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof(bytes), NULL, NULL);
        if (length > 1)
            WriteFile(out, bytes, (DWORD)(length - 1), &written, NULL);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

void Out(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    Write(FALSE, format, args);
    va_end(args);
}

void Log(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    Write(TRUE, format, args);
    va_end(args);
}

const wchar_t *OneLine(const wchar_t *text, wchar_t *out, size_t chars)
{
    size_t used = 0;
    for (; text != NULL && *text != L'\0' && used + 3 < chars; text++) {
        if (*text == L'\r' || *text == L'\n') {
            out[used++] = L'\\';
            out[used++] = *text == L'\r' ? L'r' : L'n';
        } else {
            out[used++] = *text;
        }
    }
    out[used] = L'\0';
    return out;
}
