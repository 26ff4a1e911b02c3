// Fixtures of the tray client's tests; see tray_support.h.
#include "tray_support.h"
#include "dialogs.h"
#include "wardtray_res.h"

#include <shellapi.h>

namespace tray {

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

// The client's own dialogs label their fields with static controls of the message box's
// text id too: a box is a dialog without the main window's picture or the progress bar.
static bool IsClientMessageBox(HWND dialog)
{
    return IsWindowVisible(dialog) && test::IsMessageBox(dialog) && GetDlgItem(dialog, IDC_PICTURE) == NULL &&
           GetDlgItem(dialog, IDC_PROGRESS_BAR) == NULL;
}

std::wstring TrayClient::WaitForMessageBox(DWORD timeoutMs, HWND *box)
{
    HWND found = test::WaitForDialog(processId_, IsClientMessageBox, timeoutMs);
    if (found == NULL)
        return L"<no box>";
    if (box != NULL)
        *box = found;
    return test::ItemText(found, test::MESSAGE_BOX_TEXT_ID);
}

int TrayClient::CountMessageBoxes()
{
    return (int)test::FindDialogs(processId_, IsClientMessageBox).size();
}

HWND TrayClient::FindProgressWindow()
{
    return driver::FindProgressWindow(processId_);
}

bool TrayClient::AnswerMessageBox(int button, DWORD timeoutMs)
{
    HWND box = NULL;
    return WaitForMessageBox(timeoutMs, &box) != L"<no box>" && test::AnswerDialog(box, button, timeoutMs);
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
