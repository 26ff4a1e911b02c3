// Fixtures of the tray client's tests: the DE-Zeruzu simulator as a child process, a
// stand-in notification area that records what the shell sends it, and wardtray.exe
// driven through its windows.
#pragma once

#include "test_support.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tray {

// dezsim as a child process; a thread collects its output lines as they come.
class Simulator {
public:
    Simulator();
    ~Simulator();
    // Starts dezsim on script; false when it did not report its port in time.
    bool Start(const std::wstring &script, int connections = 1);
    int Port() const { return port_; }
    // Lines seen so far.
    std::vector<std::string> Lines();
    bool WaitForLine(const std::string &wanted, DWORD timeoutMs);
    // Ends it now; every line it printed.
    std::vector<std::string> Kill();

private:
    void ReadLines();
    HANDLE process_ = NULL;
    HANDLE readEnd_ = NULL;
    HANDLE lineEvent_;
    std::thread reader_;
    std::mutex lock_;
    std::vector<std::string> lines_;
    int port_ = 0;
};
// What the client sent ("alice\\r\\n", as dezsim escapes it) and how many connections.
std::vector<std::string> Received(const std::vector<std::string> &lines);
int Connections(const std::vector<std::string> &lines);
std::wstring ShippedScript(const wchar_t *name);
// A script file in dir.
std::wstring WriteScript(const std::wstring &dir, const std::string &text);

// One icon message as Wine's shell32 hands it to the taskbar window.
struct IconRecord {
    DWORD message;  // NIM_ADD, NIM_DELETE, ...
    HWND window;
    UINT id;
    UINT flags;
    UINT callback;
    std::wstring tip;
};

// A window of class "Shell_TrayWnd" on its own thread. Without a display driver there is
// no taskbar, and shell32 then sends the icon data to this window.
class FakeTaskbar {
public:
    FakeTaskbar();
    ~FakeTaskbar();
    bool Ready() const { return window_ != NULL; }
    std::vector<IconRecord> Records();
    // Waits until count records have arrived.
    bool WaitForRecords(size_t count, DWORD timeoutMs);

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run(HANDLE ready);
    std::thread thread_;
    HWND window_ = NULL;
    HANDLE recordEvent_;
    std::mutex lock_;
    std::vector<IconRecord> records_;
};

// A string of a program's own string table, in the language Windows picks.
std::wstring ProgramString(const wchar_t *program, UINT id);
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

// Waits until condition holds, polling every 20 ms; false after timeoutMs.
bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs);

}  // namespace tray
