// Resource ids of wardsetup.exe; English and Japanese resources share them.
#pragma once

// Strings
#define IDS_APP_TITLE            1
#define IDS_TAB_GENERAL          2
#define IDS_TAB_VLAN             3
#define IDS_TAB_DHCP             4
#define IDS_CONFIG_FILTER        11
#define IDS_NOT_ADMINISTRATOR    15
#define IDS_BITMAP_FILTER        17
#define IDS_COLUMN_VLAN_ID       19
#define IDS_COLUMN_ADDRESS       20
#define IDS_COLUMN_PORT          21
#define IDS_VERSION_FORMAT       22
#define IDS_NOT_INSTALLED        23
#define IDS_SAVE_FAILED          24
#define IDS_REGISTRATION_FAILED  25
#define IDS_FILE_WRITE_FAILED    26
#define IDS_FILE_READ_FAILED     27
#define IDS_BAD_LOGON_PORT       28
#define IDS_BAD_LOGOFF_PORT      29
#define IDS_BAD_VLAN_PORT        30
#define IDS_BAD_WAIT_IP_RENEW    31
#define IDS_BAD_WAIT_FIND_DOMAIN 32
#define IDS_MESSAGE_TOO_LONG     33
#define IDS_PROVIDER_MISSING     34
#define IDS_NOT_A_CONFIGURATION  35
#define IDS_LAST_STRING          IDS_NOT_A_CONFIGURATION

// Dialogs, menu, icon
#define IDD_MAIN                 101
#define IDI_WARDSETUP            102
#define IDM_MAIN                 103
#define IDD_PAGE_GENERAL         104
#define IDD_PAGE_VLAN            105
#define IDD_ABOUT                106
#define IDD_LOGON_TO             108
#define IDD_VLAN_ENTRY           109
#define IDD_PAGE_DHCP            110

// Controls
#define IDC_TAB                  1000
#define IDC_ENABLE               1001
#define IDC_LOGON_IMAGE          1002
#define IDC_BROWSE_IMAGE         1003
#define IDC_DOMAIN_LIST          1004
#define IDC_ADD                  1005
#define IDC_UPDATE               1006
#define IDC_DELETE               1007
#define IDC_ENABLE_DHCP          1008
#define IDC_LOGON_SERVER         1009
#define IDC_LOGON_PORT           1010
#define IDC_LOGOFF_PORT          1011
#define IDC_LOGOFF_SERVER        1012
#define IDC_VLAN_LIST            1013
#define IDC_VLAN_ID              1014
#define IDC_DOMAIN_NAME          1015
#define IDC_PROVIDER_VERSION     1016
#define IDC_PROVIDER_COPYRIGHT   1021
#define IDC_NOT_FIND_DOMAIN      1025
#define IDC_WAIT_IP_RENEW        1028
#define IDC_WAIT_FIND_DOMAIN     1029
#define IDC_MULTI_MESSAGE        1030
#define IDC_MULTI_CHECK          1031

// Menu commands
#define IDM_EXIT                 40008
#define IDM_READ_FILE            40009
#define IDM_SAVE_FILE            40010
#define IDM_ABOUT                40011
