// Fixtures of the tray client's tests: the simulator's output read back, and wardtray.exe
// driven through its windows (tray_driver.h).
#pragma once

#include "test_support.h"
#include "files.h"
#include "tray_driver.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tray {

using test::Connections;
using test::Received;
using test::ShippedScript;
using test::Simulator;
using test::WriteScript;

// The stand-in taskbar and the window finding are the main job's driver's.
using FakeTaskbar = driver::Taskbar;
using IconRecord = driver::IconRecord;

// A string of wardtray.exe's string table, in the language Windows picks.
std::wstring TrayString(UINT id);

// wardtray.exe as a child process and its windows.
class TrayClient {
public:
    ~TrayClient();
    bool Start(const std::wstring &arguments = L"", const std::wstring &program = L"");
    DWORD ProcessId() const { return processId_; }
    HANDLE Process() const { return process_; }
    // The main window, found by its controls; NULL when it did not appear in time.
    HWND WaitForMainWindow(DWORD timeoutMs = 20000);
    HWND Page();
    // Waits until the client has shown its window and painted it (the "-t" switch hides
    // it at that first paint).
    void WaitUntilIdle();
    // Waits for a message box of the client; its text, or "<no box>".
    std::wstring WaitForMessageBox(DWORD timeoutMs, HWND *box = NULL);
    HWND FindProgressWindow();
    int CountMessageBoxes();
    // Answers the message box that is shown now with button id.
    bool AnswerMessageBox(int button = IDOK, DWORD timeoutMs = 20000);
    bool WaitForExit(DWORD timeoutMs, DWORD *exitCode = NULL);
    void Kill();
    // Types into the logon page and presses OK.
    void SubmitLogon(const std::wstring &user, const std::wstring &password);
    std::wstring ControlText(HWND window, int id);

private:
    HANDLE process_ = NULL;
    DWORD processId_ = 0;
};

inline bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    return driver::WaitFor(condition, timeoutMs);
}

}  // namespace tray
