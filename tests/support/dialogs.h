// Finding a program's dialogs and answering them, for tests, benchmarks and drivers alike:
// dialogs are found by their process and their controls, never by caption alone.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace test {

// A message box's text is the static control of this id.
enum { MESSAGE_BOX_TEXT_ID = 0xFFFF };

typedef std::function<bool(HWND dialog)> DialogMatch;

// Tries condition every intervalMs until it holds, for what no message or event announces;
// whether it held within timeoutMs.
bool PollUntil(const std::function<bool()> &condition, DWORD timeoutMs, DWORD intervalMs);

// Every top-level dialog (class "#32770"), shown or hidden, of process processId, or of
// any process but this one when processId is 0, for which match holds.
std::vector<HWND> FindDialogs(DWORD processId, const DialogMatch &match);
// A visible top-level dialog (class "#32770") of process processId for which match holds,
// found within timeoutMs; NULL when none appeared.
HWND WaitForDialog(DWORD processId, const DialogMatch &match, DWORD timeoutMs = 20000);
inline bool IsMessageBox(HWND dialog) { return GetDlgItem(dialog, MESSAGE_BOX_TEXT_ID) != NULL; }
// Posts command (IDOK, IDCANCEL, ...) to dialog and waits for the dialog to go; whether it
// went within timeoutMs.
bool AnswerDialog(HWND dialog, WPARAM command, DWORD timeoutMs = 20000);
// Whether window's thread answered a sent message within timeoutMs: what was posted to it
// before, and what its owner does once a dialog of its has gone, is then done.
bool WaitUntilHandled(HWND window, DWORD timeoutMs = 20000);

std::wstring WindowText(HWND window);
// By WM_GETTEXT, which reads an edit of another process too (GetWindowText does not).
std::wstring ItemText(HWND dialog, int id);

}  // namespace test
