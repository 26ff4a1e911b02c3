// Fixtures of the tray client's tests; see tray_support.h.
#include "tray_support.h"

#include <shellapi.h>

namespace tray {

// ---- simulator

Simulator::Simulator() : lineEvent_(CreateEventW(NULL, FALSE, FALSE, NULL)) {}

Simulator::~Simulator()
{
    Kill();
    CloseHandle(lineEvent_);
}

bool Simulator::Start(const std::wstring &script, int connections)
{
    Kill();
    lines_.clear();
    port_ = 0;
    std::wstring command = L"\"" + test::BinaryPath(L"dezsim.exe") + L"\" --script \"" + script +
                           L"\" --port 0 --connections " + std::to_wstring(connections);
    process_ = test::StartCapturedProcess(command, &readEnd_);
    if (process_ == NULL)
        return false;
    reader_ = std::thread([this] { ReadLines(); });
    DWORD start = GetTickCount();
    for (;;) {
        for (const std::string &l : Lines()) {
            if (l.rfind("listening on ", 0) == 0) {
                port_ = atoi(l.substr(l.rfind(':') + 1).c_str());
                if (port_ <= 0)
                    fprintf(stderr, "dezsim reported \"%s\"\n", l.c_str());
                return port_ > 0;
            }
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= 20000) {
            fprintf(stderr, "dezsim did not report its port\n");
            return false;
        }
        WaitForSingleObject(lineEvent_, 20000 - elapsed);
    }
}

std::vector<std::string> Simulator::Lines()
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

bool Simulator::WaitForLine(const std::string &wanted, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (const std::string &l : Lines()) {
            if (l == wanted)
                return true;
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        WaitForSingleObject(lineEvent_, timeoutMs - elapsed);
    }
}

std::vector<std::string> Simulator::Kill()
{
    if (process_ != NULL) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
        process_ = NULL;
    }
    if (reader_.joinable())
        reader_.join();
    if (readEnd_ != NULL) {
        CloseHandle(readEnd_);
        readEnd_ = NULL;
    }
    return Lines();
}

void Simulator::ReadLines()
{
    std::string pending;
    char buffer[4096];
    DWORD bytes;
    while (ReadFile(readEnd_, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0) {
        pending.append(buffer, bytes);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                lines_.push_back(pending.substr(0, end));
            }
            pending.erase(0, end + 1);
            SetEvent(lineEvent_);
        }
    }
    SetEvent(lineEvent_);
}

std::vector<std::string> Received(const std::vector<std::string> &lines)
{
    std::vector<std::string> received;
    for (const std::string &l : lines) {
        if (l.rfind("recv: ", 0) == 0)
            received.push_back(l.substr(6));
    }
    return received;
}

int Connections(const std::vector<std::string> &lines)
{
    int count = 0;
    for (const std::string &l : lines)
        count += l == "conn: open";
    return count;
}

std::wstring ShippedScript(const wchar_t *name)
{
    return test::BinaryPath(L"dezsim-scripts\\") + name;
}

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

// ---- taskbar

// Wine's shell32 packs NOTIFYICONDATAW into this platform-independent record.
struct WineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeout;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    UINT width, height, planes, bpp;
};

FakeTaskbar::FakeTaskbar() : recordEvent_(CreateEventW(NULL, FALSE, FALSE, NULL))
{
    HANDLE ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    thread_ = std::thread([this, ready] { Run(ready); });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
}

FakeTaskbar::~FakeTaskbar()
{
    if (window_ != NULL)
        PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable())
        thread_.join();
    CloseHandle(recordEvent_);
}

void FakeTaskbar::Run(HANDLE ready)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                              GetModuleHandleW(NULL), this);
    SetEvent(ready);
    if (window_ == NULL)
        return;
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    window_ = NULL;
}

LRESULT CALLBACK FakeTaskbar::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
    } else if (message == WM_COPYDATA) {
        FakeTaskbar *self = (FakeTaskbar *)GetWindowLongPtrW(window, GWLP_USERDATA);
        const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
        if (copy->cbData < sizeof(WineNotifyData))
            return FALSE;
        const WineNotifyData *data = (const WineNotifyData *)copy->lpData;
        IconRecord record = {(DWORD)copy->dwData, (HWND)wParam, data->uID, data->uFlags,
                             data->uCallbackMessage, data->szTip};
        // Release the sender before the record shows: once a test sees it, the client has
        // gone on with its initialisation.
        ReplyMessage(TRUE);
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->records_.push_back(record);
        }
        SetEvent(self->recordEvent_);
        return TRUE;
    } else if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    } else if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<IconRecord> FakeTaskbar::Records()
{
    std::lock_guard<std::mutex> guard(lock_);
    return records_;
}

bool FakeTaskbar::WaitForRecords(size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (Records().size() >= count)
            return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        WaitForSingleObject(recordEvent_, timeoutMs - elapsed);
    }
}

// ---- strings

std::wstring ProgramString(const wchar_t *program, UINT id)
{
    HMODULE module = LoadLibraryExW(test::BinaryPath(program).c_str(), NULL,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == NULL)
        return L"<no module>";
    const wchar_t *text = NULL;
    int length = LoadStringW(module, id, (LPWSTR)&text, 0);
    std::wstring result = length > 0 ? std::wstring(text, length) : L"<no string>";
    FreeLibrary(module);
    return result;
}

std::wstring TrayString(UINT id)
{
    return ProgramString(L"wardtray.exe", id);
}

// ---- the client

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

TrayClient::~TrayClient()
{
    Kill();
}

bool TrayClient::Start(const std::wstring &arguments, const std::wstring &program)
{
    std::wstring path = program.empty() ? test::BinaryPath(L"wardtray.exe") : program;
    std::wstring command = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        fprintf(stderr, "CreateProcess %ls failed - %lu\n", path.c_str(), GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    return true;
}

struct WindowSearch {
    DWORD processId;
    std::function<bool(HWND)> wanted;
    HWND found;
};

static std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

static HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)> &wanted)
{
    WindowSearch search = {processId, wanted, NULL};
    EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
            WindowSearch *s = (WindowSearch *)lParam;
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || ClassOf(window) != L"#32770" || !s->wanted(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        (LPARAM)&search);
    return search.found;
}

static bool IsMainWindow(HWND window)
{
    return GetDlgItem(window, 1017) != NULL && GetDlgItem(window, 1015) != NULL;
}

HWND TrayClient::WaitForMainWindow(DWORD timeoutMs)
{
    HWND found = NULL;
    // Found once its initialisation has put a page in.
    WaitUntil(
        [&] {
            found = FindTopLevel(processId_, IsMainWindow);
            return found != NULL && FindWindowExW(found, NULL, L"#32770", NULL) != NULL;
        },
        timeoutMs);
    // A sent message is taken only from a running message loop: the dialog box's own, so
    // the window has been shown by now.
    DWORD_PTR answer;
    if (found != NULL && !SendMessageTimeoutW(found, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &answer))
        found = NULL;
    return found;
}

void TrayClient::WaitUntilIdle()
{
    // The dialog box shows its window only once its queue is empty, and the first paint
    // follows at once: a client waiting for input with nothing pending has done both.
    WaitForInputIdle(process_, 10000);
}

HWND TrayClient::Page()
{
    HWND main = FindTopLevel(processId_, IsMainWindow);
    return main == NULL ? NULL : FindWindowExW(main, NULL, L"#32770", NULL);
}

static bool IsMessageBox(HWND window)
{
    return IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) != NULL &&
           GetDlgItem(window, 1017) == NULL && GetDlgItem(window, 1020) == NULL;
}

std::wstring TrayClient::WaitForMessageBox(DWORD timeoutMs, HWND *box)
{
    HWND found = NULL;
    if (!WaitUntil([&] { return (found = FindTopLevel(processId_, IsMessageBox)) != NULL; },
                   timeoutMs))
        return L"<no box>";
    if (box != NULL)
        *box = found;
    return ControlText(found, 0xFFFF);
}

int TrayClient::CountMessageBoxes()
{
    int count = 0;
    FindTopLevel(processId_, [&](HWND window) {
        count += IsMessageBox(window);
        return false;
    });
    return count;
}

HWND TrayClient::FindProgressWindow()
{
    return FindTopLevel(processId_,
                        [](HWND window) { return GetDlgItem(window, 1020) != NULL; });
}

bool TrayClient::AnswerMessageBox(int button, DWORD timeoutMs)
{
    HWND box = NULL;
    if (WaitForMessageBox(timeoutMs, &box) == L"<no box>")
        return false;
    PostMessageW(box, WM_COMMAND, button, 0);
    return WaitUntil([&] { return !IsWindow(box); }, timeoutMs);
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
    HWND page = Page();
    SendDlgItemMessageW(page, 1003, WM_SETTEXT, 0, (LPARAM)user.c_str());
    SendDlgItemMessageW(page, 1004, WM_SETTEXT, 0, (LPARAM)password.c_str());
    PostMessageW(GetParent(page), WM_COMMAND, IDOK, 0);
}

std::wstring TrayClient::ControlText(HWND window, int id)
{
    wchar_t text[1024] = L"";
    SendDlgItemMessageW(window, id, WM_GETTEXT, ARRAYSIZE(text), (LPARAM)text);
    return text;
}

}  // namespace tray
