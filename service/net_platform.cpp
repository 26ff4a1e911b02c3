// The real platform calls behind NetCalls().
#include "net_platform.h"

static ULONGLONG RealTickCount()
{
    return GetTickCount64();
}

static const NetPlatform REAL_NET_PLATFORM = {
    GetInterfaceInfo, IpReleaseAddress, IpRenewAddress, NetServerEnum,        NetApiBufferFree,
    RealTickCount,    getaddrinfo,      freeaddrinfo,   GetAdaptersAddresses,
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
