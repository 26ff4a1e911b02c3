// Stand-in for wardtray.exe in the Run-entry test, and for wardsetup.exe behind the tray's
// Config button: records its command line in "started.txt" beside itself and exits.
#include <windows.h>
#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    WCHAR path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    wcscpy(wcsrchr(path, L'\\') + 1, L"started.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    LPCWSTR line = GetCommandLineW();
    DWORD written;
    WriteFile(file, line, (DWORD)(wcslen(line) * sizeof(WCHAR)), &written, NULL);
    CloseHandle(file);
    return 0;
}
