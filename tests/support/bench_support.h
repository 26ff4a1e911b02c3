// Shared by the benchmarks and the main job's drivers: paths beside the program, a clock,
// the DE-Zeruzu simulator as a child process and the product key's values.
#pragma once

#include <windows.h>

#include "product_key.h"
#include "ward_names.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace bench {

inline std::wstring BesideMe(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

inline double NowMs()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// CreateProcessW for every child the kit starts. Wine now and then (in whole suite runs, loaded
// or not) reports ERROR_INTERNAL_ERROR when the new process ends before it has reported its
// start; that one failure is reported and tried once more, any other fails at once.
inline BOOL CreateChild(std::wstring commandLine, BOOL inherit, STARTUPINFOW *startup, PROCESS_INFORMATION *info)
{
    for (int attempt = 0;; attempt++) {
        if (CreateProcessW(NULL, &commandLine[0], NULL, NULL, inherit, 0, NULL, NULL, startup, info))
            return TRUE;
        DWORD error = GetLastError();
        fprintf(stderr, "CreateProcess %ls failed - %lu\n", commandLine.c_str(), error);
        if (error != ERROR_INTERNAL_ERROR || attempt > 0)
            return FALSE;
    }
}

// Starts commandLine with the caller's console; the process handle, or NULL.
inline HANDLE StartCommand(const std::wstring &commandLine, DWORD *pid = NULL)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateChild(commandLine, FALSE, &startup, &info))
        return NULL;
    CloseHandle(info.hThread);
    if (pid != NULL)
        *pid = info.dwProcessId;
    return info.hProcess;
}

// Starts dezsim.exe from beside the caller on one of its shipped scripts for count
// connections; its port, or 0. Its output after the first line is drained unread, so that
// a full pipe never stalls it.
inline int StartSimulator(const wchar_t *script, int count, HANDLE *process)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd, writeEnd;
    *process = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 0;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring command = L"\"" + BesideMe(L"dezsim.exe") + L"\" --script \"" +
                           BesideMe(L"dezsim-scripts\\") + script + L"\" --port 0 --connections " +
                           std::to_wstring(count);
    PROCESS_INFORMATION info = {};
    BOOL started = CreateChild(command, TRUE, &startup, &info);
    CloseHandle(writeEnd);
    int port = 0;
    if (started) {
        CloseHandle(info.hThread);
        *process = info.hProcess;
        std::string first;
        char c;
        DWORD bytes;
        while (first.size() < 100 && ReadFile(readEnd, &c, 1, &bytes, NULL) && bytes == 1 &&
               c != '\n')
            first += c;
        sscanf(first.c_str(), "listening on %*[^:]:%d", &port);
    }
    HANDLE drain = port == 0 ? NULL : CreateThread(NULL, 0, [](LPVOID pipe) -> DWORD {
        char buffer[4096];
        DWORD bytes;
        while (ReadFile(pipe, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0) {
        }
        CloseHandle(pipe);
        return 0;
    }, readEnd, 0, NULL);
    CloseHandle(drain != NULL ? drain : readEnd);
    return port;
}

// This process's handles, found by probing: Wine answers no handle count of its own.
inline unsigned CountHandles()
{
    unsigned count = 0;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

inline bool SetKeyString(const wchar_t *name, const wchar_t *value)
{
    return WriteConfigString(NULL, name, value, TRUE, TRUE) == ERROR_SUCCESS;
}

inline bool SetKeyDword(const wchar_t *name, DWORD value)
{
    return WriteConfigDword(NULL, name, value, TRUE) == ERROR_SUCCESS;
}

// The product key's logon (or logoff) server as server at port.
inline bool PointSwitchAt(int port, bool logoff = false, const wchar_t *server = L"127.0.0.1")
{
    return SetKeyString(logoff ? VALUE_VLAN_LOGOFF_SERVER : VALUE_VLAN_LOGON_SERVER, server) &&
           SetKeyDword(logoff ? VALUE_VLAN_LOGOFF_PORT : VALUE_VLAN_LOGON_PORT, port);
}

// One transaction with pipe (the service's by default): the reply's text in *reply, or FALSE
// with the call's error as the last error.
inline BOOL CallPipe(const wchar_t *request, std::wstring *reply, DWORD timeout = NMPWAIT_WAIT_FOREVER,
                     const wchar_t *pipe = WARD_PIPE_NAME)
{
    wchar_t buffer[261];
    DWORD bytes = 0;
    BOOL ok = CallNamedPipeW(pipe, (LPVOID)request, (DWORD)(wcslen(request) * sizeof(wchar_t)), buffer,
                             sizeof(buffer), &bytes, timeout);
    DWORD error = GetLastError();
    reply->assign(buffer, ok ? bytes / sizeof(wchar_t) : 0);
    SetLastError(error);
    return ok;
}

// Waits at most timeoutMs for pipe; WaitNamedPipeW fails at once while a starting server
// has no pipe yet.
inline bool WaitForPipe(const wchar_t *pipe, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!WaitNamedPipeW(pipe, 100)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

inline bool WaitForService(DWORD timeoutMs)
{
    return WaitForPipe(WARD_PIPE_NAME, timeoutMs);
}

// The wall time in ms of one CallPipe answered with exactly `expected`; otherwise -1, with
// the reply or the error on stderr.
inline double TimeCall(const wchar_t *request, const wchar_t *expected, DWORD timeout = NMPWAIT_WAIT_FOREVER,
                       const wchar_t *pipe = WARD_PIPE_NAME)
{
    std::wstring reply;
    double start = NowMs();
    BOOL ok = CallPipe(request, &reply, timeout, pipe);
    double elapsed = NowMs() - start;
    if (ok && reply == expected)
        return elapsed;
    fprintf(stderr, "%ls: \"%ls\" (error %lu)\n", request, reply.c_str(), ok ? 0 : GetLastError());
    return -1;
}

// StartSimulator, then the product key's logon (or logoff) server pointed at it; false (said
// on stderr, the simulator ended) when either fails.
inline bool StartSwitch(const wchar_t *script, int count, bool logoff, HANDLE *process)
{
    int port = StartSimulator(script, count, process);
    if (port != 0 && PointSwitchAt(port, logoff))
        return true;
    fprintf(stderr, "%ls: dezsim did not start or the product key is not writable\n", script);
    if (*process != NULL)
        TerminateProcess(*process, 1);
    return false;
}

// Argument index of the command line as a count: fallback when it is missing or not positive.
inline int CountArg(int argc, wchar_t **argv, int index, int fallback)
{
    int count = argc > index ? _wtoi(argv[index]) : 0;
    return count > 0 ? count : fallback;
}

inline void PrintStats(const char *label, const std::vector<double> &times)
{
    if (times.empty())
        return;
    printf("%-42s median %.1f ms (min %.1f, max %.1f)\n", label, Median(times),
           *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
}

}  // namespace bench
