// logonbench: time from sending "logon" to receiving "OK", over sequential logons against
// the DE-Zeruzu simulator playing the usual exchange without delays, beside the floor the
// dialogue itself fixes (three replies, each followed by its 50 ms pause).
//   logonbench.exe [COUNT]     wardhost must be installed and running; COUNT defaults to 50
// It starts dezsim.exe with dezsim-scripts\logon-group.txt from its own folder and points
// VLANLogonServer and VLANLogonPort of the product key at it.
#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

static const wchar_t PIPE_NAME[] = L"\\\\.\\pipe\\wardhost";
static const wchar_t PRODUCT_KEY[] = L"SOFTWARE\\KORVALE\\Portgate";
static const double FLOOR_MS = 3 * 50.0;

static std::wstring BesideMe(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

static DWORD WINAPI DrainOutput(LPVOID pipe)
{
    char buffer[4096];
    DWORD bytes;
    while (ReadFile(pipe, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0) {
    }
    CloseHandle(pipe);
    return 0;
}

// Starts dezsim for count connections; its port, or 0.
static int StartSimulator(int count, PROCESS_INFORMATION *process)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 0;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // Its later output is not read: send it nowhere so that it can never block.
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             NULL);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = nul;
    std::wstring command = L"\"" + BesideMe(L"dezsim.exe") + L"\" --script \"" +
                           BesideMe(L"dezsim-scripts\\logon-group.txt") +
                           L"\" --port 0 --connections " + std::to_wstring(count);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    BOOL started = CreateProcessW(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                                  process);
    CloseHandle(writeEnd);
    CloseHandle(nul);
    int port = 0;
    if (started) {
        // The first line is "listening on 127.0.0.1:PORT".
        std::string first;
        char c;
        DWORD bytes;
        while (first.size() < 100 && ReadFile(readEnd, &c, 1, &bytes, NULL) && bytes == 1 &&
               c != '\n')
            first += c;
        size_t colon = first.rfind(':');
        if (first.rfind("listening on ", 0) == 0 && colon != std::string::npos)
            port = atoi(first.c_str() + colon + 1);
    }
    // The rest of its output is drained unread, so that a full pipe never stalls it.
    if (port == 0 || CreateThread(NULL, 0, DrainOutput, readEnd, 0, NULL) == NULL)
        CloseHandle(readEnd);
    return port;
}

static double Now(LARGE_INTEGER frequency)
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

int wmain(int argc, wchar_t **argv)
{
    int count = argc > 1 ? _wtoi(argv[1]) : 50;
    if (count <= 0) {
        fwprintf(stderr, L"usage: logonbench [COUNT]\n");
        return 2;
    }
    // WaitNamedPipeW fails at once while a starting service has no pipe yet.
    bool listening = false;
    for (int i = 0; i < 100 && !listening; i++) {
        listening = WaitNamedPipeW(PIPE_NAME, 1000) != FALSE;
        if (!listening)
            Sleep(100);
    }
    if (!listening) {
        fwprintf(stderr, L"wardhost is not listening (error %lu)\n", GetLastError());
        return 1;
    }
    PROCESS_INFORMATION simulator = {};
    int port = StartSimulator(count, &simulator);
    if (port == 0) {
        fwprintf(stderr, L"dezsim did not start\n");
        return 1;
    }
    const wchar_t server[] = L"127.0.0.1";
    DWORD port32 = (DWORD)port;
    if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"VLANLogonServer", REG_SZ, server,
                        sizeof(server)) != ERROR_SUCCESS ||
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"VLANLogonPort", REG_DWORD, &port32,
                        sizeof(port32)) != ERROR_SUCCESS) {
        fwprintf(stderr, L"cannot write the product key\n");
        TerminateProcess(simulator.hProcess, 1);
        return 1;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    const wchar_t request[] = L"logon benchuser benchpassword";
    for (int i = 0; i < count; i++) {
        wchar_t reply[261] = L"";
        DWORD bytes = 0;
        double start = Now(frequency);
        BOOL ok = CallNamedPipeW(PIPE_NAME, (LPVOID)request, sizeof(request) - sizeof(wchar_t),
                                 reply, 520, &bytes, NMPWAIT_WAIT_FOREVER);
        double elapsed = Now(frequency) - start;
        reply[bytes / sizeof(wchar_t)] = L'\0';
        if (!ok || wcscmp(reply, L"OK") != 0) {
            fwprintf(stderr, L"logon %d failed: %ls (error %lu)\n", i + 1, reply,
                     ok ? 0 : GetLastError());
            TerminateProcess(simulator.hProcess, 1);
            return 1;
        }
        times.push_back(elapsed);
    }
    WaitForSingleObject(simulator.hProcess, 10000);
    CloseHandle(simulator.hProcess);
    CloseHandle(simulator.hThread);

    std::sort(times.begin(), times.end());
    double median = count % 2 ? times[count / 2] : (times[count / 2 - 1] + times[count / 2]) / 2;
    printf("logons: %d\n", count);
    printf("median: %.1f ms\n", median);
    printf("min:    %.1f ms\n", times.front());
    printf("max:    %.1f ms\n", times.back());
    printf("floor:  %.1f ms (3 replies x 50 ms pause)\n", FLOOR_MS);
    printf("ratio:  %.2f x floor\n", median / FLOOR_MS);
    return 0;
}
