// The real platform calls behind NetCalls().
#include "net_platform.h"

#include <time.h>

static __time64_t RealCurrentTime()
{
    return _time64(NULL);
}

static const NetPlatform REAL_NET_PLATFORM = {
    GetInterfaceInfo, IpReleaseAddress, IpRenewAddress,
    NetServerEnum,    NetApiBufferFree, RealCurrentTime,
    getaddrinfo,      freeaddrinfo,
};

static const NetPlatform *g_netPlatform = &REAL_NET_PLATFORM;

const NetPlatform &NetCalls()
{
    return *g_netPlatform;
}

void SetNetPlatform(const NetPlatform *platform)
{
    g_netPlatform = platform != NULL ? platform : &REAL_NET_PLATFORM;
}
