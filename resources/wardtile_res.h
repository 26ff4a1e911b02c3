// Resource ids of wardtile.dll.
#pragma once

#define IDD_PROGRESS       101   // "Please wait..." dialog of the logon workflow
#define IDC_PROGRESS_TEXT  1001  // its step text
#define IDC_PROGRESS_BAR   1020  // its marquee bar

#define IDB_TILE           101   // built-in tile picture, 128 x 128, 24-bit

// Field labels and the tile title.
#define IDS_TILE_TITLE     101
#define IDS_USER_NAME      102
#define IDS_PASSWORD       103
#define IDS_LOG_ON_TO      104

#define IDS_PROVIDER_CAPTION      10000  // caption of every message box
#define IDS_AUTH_FAILED           10005
#define IDS_CREDENTIALS_TOO_LONG  10006
#define IDS_LOGON_CAPTION         10007  // progress dialog caption
#define IDS_SENDING_REQUEST       10008
#define IDS_DHCP_ERROR            10013
#define IDS_DC_NOT_FOUND          10014
#define IDS_CREDENTIALS_BLANK     10015
#define IDS_WAITING_FOR_SERVICE   10016  // the logon retry; %u: seconds waited
#define IDS_SERVICE_NOT_RUNNING   11004
#define IDS_REQUESTING_ADDRESS    20001
#define IDS_SEARCHING_DC          20002
