// Resource ids of wardtray.exe.
#pragma once

#define IDD_PROGRESS         101   // "Please wait..." with a marquee bar
#define IDD_MAIN             103
#define IDD_LOGON_PAGE       104
#define IDD_LOGON_INFO_PAGE  105
#define IDI_WARDTRAY         106
#define IDB_LOGON_PICTURE    109

// Controls of the main window and its pages.
#define IDC_PAGE_AREA        1001  // hidden placeholder giving the page's rectangle
#define IDC_CONFIG           1002
#define IDC_USER_NAME        1003  // logon page: edit; information page: logon name
#define IDC_PASSWORD         1004
#define IDC_LOGON_DATE       1005
#define IDC_MODE_CHANGE      1015
#define IDC_PICTURE          1017
// Controls of the progress window.
#define IDC_PROGRESS_TEXT    1001
#define IDC_PROGRESS_BAR     1020

#define IDS_TITLE                 10000
#define IDS_LOGON_BUTTON          10002
#define IDS_LOGOFF_BUTTON         10003
#define IDS_AUTH_FAILED           10005
#define IDS_LOGON_CAPTION         10007
#define IDS_LOGON_SENDING         10008
#define IDS_LOGOFF_CAPTION        10009
#define IDS_LOGOFF_SENDING        10010
#define IDS_DHCP_ERROR            10013
#define IDS_BLANK_IN_CREDENTIALS  10015
#define IDS_LOGON_DONE            11002
#define IDS_LOGOFF_DONE           11003
#define IDS_SERVICE_NOT_RUNNING   11004
#define IDS_CONFIG_NOT_STARTED    11008
#define IDS_GOOD_BYE              20000
#define IDS_REQUESTING_ADDRESS    20001
