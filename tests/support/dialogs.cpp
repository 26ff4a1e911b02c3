// Finding and answering dialogs; see dialogs.h.
#include "dialogs.h"

#include <vector>

namespace test {

struct DialogSearch {
    DWORD processId;
    const DialogMatch *match;
    HWND found;
};

static BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    DialogSearch *search = (DialogSearch *)parameter;
    wchar_t className[16] = L"";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->processId && IsWindowVisible(window) &&
        GetClassNameW(window, className, ARRAYSIZE(className)) &&
        wcscmp(className, L"#32770") == 0 && (*search->match)(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(DWORD processId, const DialogMatch &match, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DialogSearch search = {processId, &match, NULL};
        EnumWindows(FindDialog, (LPARAM)&search);
        if (search.found != NULL)
            return search.found;
        if (GetTickCount() - start >= timeoutMs)
            return NULL;
        Sleep(10);
    }
}

bool IsMessageBox(HWND dialog)
{
    return GetDlgItem(dialog, MESSAGE_BOX_TEXT_ID) != NULL;
}

bool AnswerDialog(HWND dialog, WPARAM command, DWORD timeoutMs)
{
    if (!PostMessageW(dialog, WM_COMMAND, command, 0))
        return false;
    DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
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
    return WindowText(GetDlgItem(dialog, id));
}

}  // namespace test
