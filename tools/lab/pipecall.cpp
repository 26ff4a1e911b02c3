// pipecall: sends one request to the wardhost pipe and prints the reply, as the
// credential provider and the tray client do. Used by the main job and by people
// trying the service by hand.
//   pipecall.exe logon USER PASSWORD DOMAIN     (the words are joined by blanks)
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: pipecall WORD [ARGUMENT ...]\n");
        return 2;
    }
    WCHAR request[261] = L"";
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            wcsncat(request, L" ", 260 - wcslen(request));
        wcsncat(request, argv[i], 260 - wcslen(request));
    }
    WCHAR reply[261] = L"";
    DWORD bytes = 0;
    // A service that is still starting has no pipe yet: retry for a while, as the
    // logon tile does, but never while another client is being served.
    DWORD start = GetTickCount();
    while (!CallNamedPipeW(L"\\\\.\\pipe\\wardhost", request,
                           (DWORD)(wcslen(request) * sizeof(WCHAR)), reply, 520, &bytes,
                           NMPWAIT_NOWAIT)) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND || GetTickCount() - start > 10000) {
            fwprintf(stderr, L"CallNamedPipe failed - %lu\n", error);
            return 1;
        }
        Sleep(100);
    }
    reply[bytes / sizeof(WCHAR)] = L'\0';
    // UTF-8 so that a Japanese message survives a redirected standard output.
    char text[1100];
    WideCharToMultiByte(CP_UTF8, 0, reply, -1, text, sizeof(text), NULL, NULL);
    printf("%s\n", text);
    return 0;
}
