// Fixtures of the tray client's tests; see tray_support.h.
#include "tray_support.h"

#include <shellapi.h>

namespace tray {

// ---- scripts

std::wstring WriteScript(const std::wstring &dir, const std::string &text)
{
    static int count = 0;
    std::wstring path = dir + L"\\script" + std::to_wstring(count++) + L".txt";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return path;
}

// ---- strings

std::wstring TrayString(UINT id)
{
    return test::ProgramString(L"wardtray.exe", id);
}

// ---- the client

TrayClient::~TrayClient()
{
    Kill();
}

bool TrayClient::Start(const std::wstring &arguments, const std::wstring &program)
{
    std::wstring path = program.empty() ? test::BinaryPath(L"wardtray.exe") : program;
    process_ = driver::StartProgram(path, arguments, &processId_);
    if (process_ == NULL)
        fprintf(stderr, "CreateProcess %ls failed - %lu\n", path.c_str(), GetLastError());
    return process_ != NULL;
}

HWND TrayClient::WaitForMainWindow(DWORD timeoutMs)
{
    return driver::WaitForMainWindow(processId_, timeoutMs);
}

void TrayClient::WaitUntilIdle()
{
    // The dialog box shows its window only once its queue is empty, and the first paint
    // follows at once: a client waiting for input with nothing pending has done both.
    WaitForInputIdle(process_, 10000);
}

HWND TrayClient::Page()
{
    HWND main = driver::FindDialog(processId_, driver::IsMainWindow);
    return main == NULL ? NULL : driver::Page(main);
}

std::wstring TrayClient::WaitForMessageBox(DWORD timeoutMs, HWND *box)
{
    HWND found = NULL;
    if (!driver::WaitFor([&] { return (found = driver::FindMessageBox(processId_)) != NULL; },
                         timeoutMs))
        return L"<no box>";
    if (box != NULL)
        *box = found;
    return driver::Text(found, 0xFFFF);
}

int TrayClient::CountMessageBoxes()
{
    int count = 0;
    driver::FindDialog(processId_, [&](HWND window) {
        count += driver::IsMessageBox(window);
        return false;
    });
    return count;
}

HWND TrayClient::FindProgressWindow()
{
    return driver::FindProgressWindow(processId_);
}

bool TrayClient::AnswerMessageBox(int button, DWORD timeoutMs)
{
    HWND box = NULL;
    if (WaitForMessageBox(timeoutMs, &box) == L"<no box>")
        return false;
    PostMessageW(box, WM_COMMAND, button, 0);
    return driver::WaitFor([&] { return !IsWindow(box); }, timeoutMs);
}

bool TrayClient::WaitForExit(DWORD timeoutMs, DWORD *exitCode)
{
    if (process_ == NULL || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode != NULL)
        GetExitCodeProcess(process_, exitCode);
    return true;
}

void TrayClient::Kill()
{
    if (process_ == NULL)
        return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
    CloseHandle(process_);
    process_ = NULL;
}

void TrayClient::SubmitLogon(const std::wstring &user, const std::wstring &password)
{
    driver::SubmitLogon(GetParent(Page()), user, password);
}

std::wstring TrayClient::ControlText(HWND window, int id)
{
    return driver::Text(window, id);
}

}  // namespace tray
