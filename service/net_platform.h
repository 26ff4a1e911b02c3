// The few platform calls of address renewal, domain-controller search, the DE-Zeruzu
// server's name resolution and the workstation's own addresses, and the clock the search
// is timed by, reached through one table so that tests can script adapters, domain
// controllers, resolvers, addresses and the passing of time.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <lm.h>

struct NetPlatform {
    DWORD(WINAPI *getInterfaceInfo)(PIP_INTERFACE_INFO table, PULONG size);
    DWORD(WINAPI *ipReleaseAddress)(PIP_ADAPTER_INDEX_MAP adapter);
    DWORD(WINAPI *ipRenewAddress)(PIP_ADAPTER_INDEX_MAP adapter);
    NET_API_STATUS(WINAPI *netServerEnum)(LMCSTR serverName, DWORD level, LPBYTE *buffer,
                                          DWORD preferredMaximum, LPDWORD entriesRead,
                                          LPDWORD totalEntries, DWORD serverType,
                                          LMCSTR domain, LPDWORD resumeHandle);
    NET_API_STATUS(WINAPI *netApiBufferFree)(LPVOID buffer);
    // Milliseconds since the system started: a clock that a change of the calendar time
    // (set by hand, or by the time service once the new VLAN reaches it) does not move.
    ULONGLONG (*tickCount)();
    // Resolution of a server name; called on a thread of its own, which the dialogue
    // stops waiting for when its time runs out.
    INT(WSAAPI *getAddrInfo)(PCSTR nodeName, PCSTR serviceName, const ADDRINFOA *hints,
                             PADDRINFOA *result);
    VOID(WSAAPI *freeAddrInfo)(PADDRINFOA addresses);
    // The adapters and their addresses, for the "*" fields of a server template.
    ULONG(WINAPI *getAdaptersAddresses)(ULONG family, ULONG flags, PVOID reserved,
                                        PIP_ADAPTER_ADDRESSES addresses, PULONG size);
};

// The table in use: the real platform unless a test has installed another.
const NetPlatform &NetCalls();
// Installs `platform` (which must outlive its use); NULL puts the real calls back.
void SetNetPlatform(const NetPlatform *platform);
