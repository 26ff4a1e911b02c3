// Finding and answering dialogs; see dialogs.h.
#include "dialogs.h"

namespace test {

bool PollUntil(const std::function<bool()> &condition, DWORD timeoutMs, DWORD intervalMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(intervalMs);
    }
    return true;
}

struct DialogSearch {
    DWORD processId;
    const DialogMatch *match;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter)
{
    DialogSearch *search = (DialogSearch *)parameter;
    wchar_t className[16] = L"";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    bool wanted = search->processId != 0 ? process == search->processId : process != GetCurrentProcessId();
    if (wanted && GetClassNameW(window, className, ARRAYSIZE(className)) &&
        wcscmp(className, L"#32770") == 0 && (*search->match)(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindDialogs(DWORD processId, const DialogMatch &match)
{
    DialogSearch search = {processId, &match, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found;
}

HWND WaitForDialog(DWORD processId, const DialogMatch &match, DWORD timeoutMs)
{
    std::vector<HWND> found;
    PollUntil([&] {
        found = FindDialogs(processId, [&](HWND dialog) { return IsWindowVisible(dialog) && match(dialog); });
        return !found.empty();
    }, timeoutMs, 10);
    return found.empty() ? NULL : found.front();
}

bool AnswerDialog(HWND dialog, WPARAM command, DWORD timeoutMs)
{
    return PostMessageW(dialog, WM_COMMAND, command, 0) &&
           PollUntil([&] { return !IsWindow(dialog); }, timeoutMs, 10);
}

bool WaitUntilHandled(HWND window, DWORD timeoutMs)
{
    DWORD_PTR answer;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &answer) != 0;
}

std::wstring WindowText(HWND window)
{
    int chars = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(chars + 1);
    GetWindowTextW(window, text.data(), chars + 1);
    return text.data();
}

std::wstring ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    std::vector<wchar_t> text(SendMessageW(item, WM_GETTEXTLENGTH, 0, 0) + 1);
    SendMessageW(item, WM_GETTEXT, text.size(), (LPARAM)text.data());
    return text.data();
}

}  // namespace test
