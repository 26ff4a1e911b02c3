// How long the tray client waits, in one place. The reply limit and the busy-pipe retry of
// each request are the clients' shared ones (ward_client.h); the wait before "iprenew" is
// held to WAIT_SECONDS_MAX (product_key.h).
#pragma once

enum {
    // The several-interfaces check runs once, this long after the window is up.
    INTERFACE_CHECK_DELAY_MS = 500,
    // The service gives up on a silent switch after 30 s; the session's end waits no longer
    // for a running request to end, and no longer for its logoff.
    SESSION_END_BUDGET_MS = 30000,
    // At logon the taskbar may not be ready yet: this many attempts, this far apart.
    TRAY_ICON_ATTEMPTS = 5,
    TRAY_ICON_RETRY_MS = 1000,
    // The wait before "iprenew" advances one second at a time, so that the window's end
    // cuts it short.
    WAIT_STEP_MS = 1000,
};
