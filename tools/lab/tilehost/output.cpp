// tilehost's output: whole lines in UTF-8 on standard output (the console gets them as
// UTF-16), written under one lock so that the watcher's lines never split the others.
#include "tilehost.h"

#include <stdarg.h>
#include <stdio.h>

static CRITICAL_SECTION g_lock;
static ULONGLONG g_start;
static BOOL g_ready;

static void Ready(void)
{
    // Called first from main before any thread exists.
    if (!g_ready) {
        InitializeCriticalSection(&g_lock);
        g_start = GetTickCount64();
        g_ready = TRUE;
    }
}

static void Write(const wchar_t *prefix, const wchar_t *format, va_list args)
{
    Ready();
    wchar_t line[2048];
    int used = prefix != NULL ? _snwprintf(line, 1024, L"%ls", prefix) : 0;
    if (used < 0)
        used = 0;
    _vsnwprintf(line + used, 2040 - used, format, args);
    line[2040] = L'\0';
    wcscat(line, L"\n");
    EnterCriticalSection(&g_lock);
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
    LeaveCriticalSection(&g_lock);
}

void Out(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    Write(NULL, format, args);
    va_end(args);
}

void Log(const wchar_t *format, ...)
{
    Ready();
    ULONGLONG elapsed = GetTickCount64() - g_start;
    wchar_t stamp[32];
    _snwprintf(stamp, 32, L"[%4llu.%03llu] ", elapsed / 1000, elapsed % 1000);
    va_list args;
    va_start(args, format);
    Write(stamp, format, args);
    va_end(args);
}

void OneLine(const wchar_t *text, wchar_t *out, size_t chars)
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
}

void FormatGuid(REFGUID guid, wchar_t *out, size_t chars)
{
    if (StringFromGUID2(guid, out, (int)chars) == 0 && chars > 0)
        out[0] = L'\0';
}
