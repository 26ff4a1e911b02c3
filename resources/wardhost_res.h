// Resource ids of wardhost.exe.
#pragma once

#define IDD_OPERATION 101   // the never-shown "Please wait..." operation window
#define IDC_MESSAGE   1001  // its one static text

#define IDS_SENDING_REQUEST        10001
#define IDS_LOGON_CAPTION          10002
#define IDS_NO_LOGON_SERVER        10003
#define IDS_SOCKET_ERROR           10004
#define IDS_AUTH_FAILED            10005
#define IDS_CREDENTIALS_TOO_LONG   10006
#define IDS_LOGOFF_CAPTION         10007
#define IDS_NO_LOGOFF_SERVER       10008
#define IDS_CANNOT_CONNECT_LOGON   10010
#define IDS_CANNOT_CONNECT_LOGOFF  10011
#define IDS_DHCP_ERROR             10013
#define IDS_DC_NOT_FOUND           10014
#define IDS_CREDENTIALS_NOT_CONVERTIBLE 10015
#define IDS_GOOD_BYE               20000
#define IDS_REQUESTING_ADDRESS     20001
#define IDS_SEARCHING_DC           20002
