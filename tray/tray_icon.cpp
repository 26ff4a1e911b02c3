// The notification-area icon: added once at start, removed once by the shutdown.
#include <windows.h>
#include <shellapi.h>

#include "time_limits.h"
#include "tray_icon.h"
#include "wardtray_res.h"

BOOL UpdateTrayIcon(HINSTANCE instance, HWND mainWindow, DWORD message, int attempts,
                    const BOOL *giveUp)
{
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);  // the full Vista-and-later record
    data.hWnd = mainWindow;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(IDI_WARDTRAY), IMAGE_ICON,
                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                   LR_DEFAULTCOLOR);
    LoadStringW(instance, IDS_TITLE, data.szTip, ARRAYSIZE(data.szTip));
    BOOL done = FALSE;
    // No further attempt once the session has ended (handled while an attempt waited for
    // the taskbar).
    for (int attempt = 1; attempt <= attempts; attempt++) {
        done = Shell_NotifyIconW(message, &data);
        if (done || attempt == attempts || *giveUp)
            break;
        Sleep(TRAY_ICON_RETRY_MS);
    }
    if (data.hIcon != NULL)
        DestroyIcon(data.hIcon);
    return done;
}
