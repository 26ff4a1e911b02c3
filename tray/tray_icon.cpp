// The notification-area icon: added once at start, removed once by the shutdown.
#include <windows.h>
#include <shellapi.h>

#include "tray.h"

BOOL UpdateTrayIcon(HWND mainWindow, DWORD message, int attempts)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);  // the full Vista-and-later record
    data.hWnd = mainWindow;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = (HICON)LoadImageW(g_tray.instance, MAKEINTRESOURCEW(IDI_WARDTRAY), IMAGE_ICON,
                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                   LR_DEFAULTCOLOR);
    LoadStringW(g_tray.instance, IDS_TITLE, data.szTip, ARRAYSIZE(data.szTip));
    BOOL done = FALSE;
    // At logon the taskbar may not be ready yet: a few attempts a second apart, none once
    // the session has ended (handled while an attempt waited for the taskbar).
    for (int attempt = 1; attempt <= attempts; attempt++) {
        done = Shell_NotifyIconW(message, &data);
        if (done || attempt == attempts || g_tray.shutdownDone)
            break;
        Sleep(1000);
    }
    if (data.hIcon != NULL)
        DestroyIcon(data.hIcon);
    return done;
}
