// What the parts of wardtray share: the user-interface thread's state, the main window's
// private messages and the operations each part offers the others.
#pragma once

#include <windows.h>

#include "wardtray_res.h"

// Private messages of the main window.
#define WM_TRAY_NOTIFY       (WM_USER + 201)  // the icon's callback; lParam: mouse message
#define WM_CHECK_INTERFACES  (WM_USER + 202)  // from ourselves and from a second start

struct ProgressRecord;

// Touched only on the user-interface thread; workers never see it.
typedef struct TrayState {
    HINSTANCE instance;
    WORD pageId;             // IDD_LOGON_PAGE or IDD_LOGON_INFO_PAGE
    HWND page;               // the child page shown
    BOOL iconAdded;          // adding the notification-area icon succeeded
    BOOL startHidden;        // "-t": hide at the first paint
    HBITMAP logonImage;      // from LogonImage, deleted at shutdown
    BOOL requestRunning;     // a progress window is open: no second request
    struct ProgressRecord *running;  // that window's record, or NULL
    BOOL warningShown;       // the several-interfaces warning is on screen
    BOOL shutdownDone;       // the shutdown procedure has run
} TrayState;

extern TrayState g_tray;

// Main window (main_window.cpp).
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowLogonPage(HWND mainWindow);
void ShowLogonInfoPage(HWND mainWindow);
// Overwrites the logon page's password edit before emptying it, so that the buffer the
// edit frees holds no password.
void WipePasswordEdit(HWND page);

// Notification-area icon (tray_icon.cpp). attempts: 5 at start, 1 at shutdown.
BOOL UpdateTrayIcon(HWND mainWindow, DWORD message, int attempts);

// Logon and logoff through the service (workflow.cpp); both return 1 or 2.
int RunLogon(HWND mainWindow);
int RunLogoff(HWND mainWindow, BOOL showCompletion);
// The logoff of a session that is ending: no boxes, over within budgetMs.
int RunSessionEndLogoff(HWND mainWindow, DWORD budgetMs);
// The session is ending while a request runs: it starts no further step and shows no
// box, its pipe call is given up to budgetMs to end, then its window ends.
void EndRunningRequest(DWORD budgetMs);
