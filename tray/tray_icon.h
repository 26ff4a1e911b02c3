// The notification-area icon (icon 106) of the main window.
#pragma once

#include <windows.h>

// The icon's callback message to the main window; lParam: the mouse message.
#define WM_TRAY_NOTIFY  (WM_USER + 201)

// Shell_NotifyIconW with up to attempts tries; none more once *giveUp is set (the end of
// the session can be handled while a try waits for the taskbar). The last try's result.
BOOL UpdateTrayIcon(HINSTANCE instance, HWND mainWindow, DWORD message, int attempts,
                    const BOOL *giveUp);
