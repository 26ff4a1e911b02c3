// How long the tile waits, in one place. The reply limit and the busy-pipe retry of each
// request are the clients' shared ones (ward_client.h); the configured waits before
// "iprenew" and "finddomain" are held to WAIT_SECONDS_MAX (product_key.h).
#pragma once

enum {
    // A service still starting at boot gets two minutes to listen for the logon.
    LOGON_RETRY_MS = 120000,
    LOGON_RETRY_PAUSE_MS = 5000,
    // Configured waits and the waiting text advance one second at a time, so that the
    // dialog's end cuts a wait short and the text counts whole seconds.
    WAIT_STEP_MS = 1000,
};
