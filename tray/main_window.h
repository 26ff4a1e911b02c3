// The main window (dialog 103) and its context: everything the user-interface thread
// keeps for the window, stored in the window's user data from WM_INITDIALOG on.
#pragma once

#include <windows.h>

#include "workflow.h"

// Sent by a second start of the client, and by the window to itself.
#define WM_CHECK_INTERFACES  (WM_USER + 202)

// Owned by wWinMain, which outlives the window; touched only on the user-interface thread.
typedef struct MainWindow {
    HINSTANCE instance;
    BOOL startHidden;        // "-t": hide at the first paint
    WORD pageId;             // IDD_LOGON_PAGE or IDD_LOGON_INFO_PAGE
    HWND page;               // the child page shown
    BOOL iconAdded;          // adding the notification-area icon succeeded
    HBITMAP logonImage;      // from LogonImage, deleted at shutdown
    BOOL warningShown;       // the several-interfaces warning is on screen
    BOOL shutdownDone;       // the shutdown procedure has run
    RequestState requests;   // the progress window open, if any
} MainWindow;

// lParam of the dialog: the window's MainWindow, filled with instance and startHidden.
INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
