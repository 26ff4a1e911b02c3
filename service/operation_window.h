// The window every operation runs in, and the result message it leaves for the reply.
#pragma once

#include <winsock2.h>
#include <windows.h>

enum { RESULT_MESSAGE_CHARS = 260 };

// Cleared for every request; what an operation wants the client to read after "OK"/"NG".
extern WCHAR ResultMessage[RESULT_MESSAGE_CHARS];
// Formats string `id` of the string table with wvsprintfW arguments into ResultMessage.
void LoadResultMessage(UINT id, ...);
void SetResultMessage(LPCWSTR text);

// Runs one operation as a modal, never-shown dialog from template IDD_OPERATION; the
// procedure's end code, or -1 when the window could not be made.
INT_PTR RunOperationWindow(DLGPROC procedure, LPARAM parameter);
// Sets a window's text (a caption) to string `id` of the string table.
void SetTextFromTable(HWND target, UINT id);
// Sets the operation window's one text to string `id`.
void SetOperationText(HWND window, UINT id);

// An operation's per-request state: zero-filled and kept in the window's user data from
// WM_INITDIALOG, freed at WM_DESTROY. NULL, with the window ended as a failure, when no
// memory is left.
void *AttachOperationContext(HWND window, size_t bytes);
void *OperationContextOf(HWND window);
void DetachOperationContext(HWND window);
