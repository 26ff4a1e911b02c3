// The product key shared by every deliverable: value names, buffer limits and the
// small helpers that open the key for one value, read or write it, and close it again.
// Each deliverable compiles product_key.cpp in; nothing is cached between reads.
#pragma once

#include <windows.h>

#define PRODUCT_KEY_PATH   L"SOFTWARE\\KORVALE\\Portgate"
// The diagnostic log path is read through the ANSI API; registry names ignore case.
#define PRODUCT_KEY_PATH_A "SOFTWARE\\Korvale\\Portgate"

// Subkeys of the product key.
#define SUBKEY_GROUP_LIST  L"GroupList"
#define SUBKEY_DOMAIN_LIST L"DomainList"

// Configuration values (written by the configuration tool).
#define VALUE_VLAN_LOGON_SERVER        L"VLANLogonServer"        // REG_SZ, 255 chars
#define VALUE_VLAN_LOGON_PORT          L"VLANLogonPort"          // REG_DWORD
#define VALUE_VLAN_LOGOFF_SERVER       L"VLANLogoffServer"       // REG_SZ, 255 chars
#define VALUE_VLAN_LOGOFF_PORT         L"VLANLogoffPort"         // REG_DWORD
#define VALUE_ENABLE_DHCP              L"EnableDHCP"             // REG_DWORD, 0/1
#define VALUE_NOT_FIND_DOMAIN          L"NotFindDomain"          // REG_DWORD, 0/1
#define VALUE_WAIT_IP_RENEW            L"WaitIpRenew"            // REG_DWORD, seconds
#define VALUE_WAIT_FIND_DOMAIN         L"WaitFindDomain"         // REG_DWORD, seconds
#define VALUE_LOGON_IMAGE              L"LogonImage"             // REG_SZ, 259 chars
#define VALUE_MULTI_INTERFACE_CHECK    L"MultiInterfaceCheck"    // REG_DWORD, 0/1
#define VALUE_MULTI_INTERFACE_MESSAGE  L"MultiInterfaceMessage"  // REG_SZ, "\n" encoded
#define VALUE_LOG_FILE_A               "LogFile"                 // REG_SZ, any length

// State values (written only by the service).
#define VALUE_VLAN_LOGON           L"VLANLogon"          // REG_DWORD, 2 on / 1 off
#define VALUE_GROUP_NUMBER         L"GroupNumber"        // REG_DWORD, signed
#define VALUE_LOGON_DATE           L"LogonDate"          // REG_DWORD, Unix seconds
#define VALUE_DEFAULT_USER_NAME    L"DefaultUserName"    // REG_SZ
#define VALUE_DEFAULT_DOMAIN_NAME  L"DefaultDomainName"  // REG_SZ

enum {
    VLAN_LOGON_STATE_OFF = 1,
    VLAN_LOGON_STATE_ON = 2,
};

// Ranges every reader and the configuration tool hold values to. A wait beyond
// WAIT_SECONDS_MAX is read as WAIT_SECONDS_MAX, so no stored value can keep the logon
// screen or the tray client waiting longer; 120 s is the wait Windows' own wired
// single sign-on allows. A port outside PORT_MIN..PORT_MAX is not configured.
enum {
    WAIT_SECONDS_MAX = 120,
    PORT_MIN = 1,
    PORT_MAX = 65535,
};

// Buffer sizes in UTF-16 units, terminator included.
enum {
    CONFIG_TEXT_CHARS = 260,
    CONFIG_SERVER_CHARS = 256,
};

// Every reader presets its result to 0 or empty, so a missing key or value reads as
// that. subkey may be NULL for the product key itself. The return value is the
// registry result for callers that must tell "missing" from "stored as 0".
LONG ReadConfigDword(LPCWSTR subkey, LPCWSTR name, DWORD *value);
// Reads into a zero-filled buffer of `chars` units and accepts the data with or
// without a stored terminator; data that would leave no room for one is refused
// and reads as empty.
LONG ReadConfigString(LPCWSTR subkey, LPCWSTR name, LPWSTR buffer, DWORD chars);

// Writers open an existing key with KEY_ALL_ACCESS; with create set they create
// the key (and its parents) first. Strings are stored without a terminator when
// withTerminator is FALSE (the service's habit) and with one otherwise.
LONG WriteConfigDword(LPCWSTR subkey, LPCWSTR name, DWORD value, BOOL create);
LONG WriteConfigString(LPCWSTR subkey, LPCWSTR name, LPCWSTR text,
                       BOOL withTerminator, BOOL create);

// Shared readers and rules of the configuration's structured values.

// Readers take at most this many names from DomainList.
enum { DOMAIN_LIST_MAX = 10 };

// MultiInterfaceMessage stores each line break as backslash + "n". Decoding turns every
// such pair into lineBreak (L"\n" for the clients, L"\r\n" for the tool's edit field) and
// copies everything else, a lone backslash included; the result is always terminated and
// cut to fit. Encoding turns CR LF, and a stray CR or LF, into the pair; it returns FALSE
// (and an empty result) when the encoded text would not fit in `chars` units.
void DecodeConfigMessage(LPCWSTR stored, LPCWSTR lineBreak, LPWSTR out, DWORD chars);
BOOL EncodeConfigMessage(LPCWSTR text, LPWSTR out, DWORD chars);

// The domain names of DomainList, upper-cased, in enumeration order, empty names skipped,
// at most DOMAIN_LIST_MAX of them. Returns how many were read (0 when the key is missing).
int ReadDomainList(WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS]);

// A GroupList subkey name as a VLAN id: an optional sign and the leading decimal digits,
// kept signed; a name without leading digits is 0.
LONG ParseVlanId(LPCWSTR name);

// Deletes a subkey of the product key with everything below it; ERROR_SUCCESS also when
// it did not exist.
LONG DeleteConfigSubtree(LPCWSTR subkey);

// WaitIpRenew or WaitFindDomain in seconds, held to WAIT_SECONDS_MAX whatever the registry
// holds (a "-1" stored as 4294967295 included); 0 when missing or unreadable.
DWORD ReadConfigWaitSeconds(LPCWSTR name);
