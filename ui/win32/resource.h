// Resource ids of lintrel.exe, shared by its resource script and its dialogs.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102
#define IDD_OPTIONS 142
#define IDD_MONITOR 143
#define IDD_REQUESTS 144
#define IDD_NETWORK_PORT 145

// Strings.
#define IDS_ABOUTBOX 101

// Images.
#define IDI_NORMAL 128
#define IDB_LOGO 129
#define IDI_ACTIVITY 131
#define IDI_PAUSED 132

// The tray menu.
#define IDR_TRAY_MENU 130

// Controls of the main window.
#define IDC_PORT 1000
#define IDC_BAUD_RATE 1001
#define IDC_PARITY 1002
#define IDC_DATA_BIT 1003
#define IDC_STOP_BIT 1004
#define IDC_CONNECT 1005
#define IDC_OPTIONS 1006
#define IDC_ABOUT 1007
#define IDC_PAUSE 1022
#define IDC_STATUS 1013
#define IDC_MONITOR 1008

// Controls of the Options dialog.
#define IDC_PORT_PREFIX 1009
#define IDC_RECONNECT_DELAY 1010
#define IDC_END_CHARACTER 1011
#define IDC_TRUNCATE 1012
#define IDC_START_WITH_WINDOWS 1014
#define IDC_RECONNECT_AT_START 1015
#define IDC_FOLLOW_DEVICES 1016
#define IDC_SHAPING_GROUP 1017
#define IDC_PREFIX_TEXT 1018
#define IDC_SUFFIX 1019
#define IDC_REPLACEMENTS 1020
#define IDC_CONTROL_MAP 1021
#define IDC_ENCODING 1040
#define IDC_KEY_DELAY 1041
#define IDC_LINE_DELAY 1042
#define IDC_RECORDS_GROUP 1050
#define IDC_PATTERN 1051
#define IDC_UNMATCHED 1052
#define IDC_GS1 1053
#define IDC_TEMPLATE 1054
#define IDC_REPEAT_WINDOW 1055
#define IDC_TEST_LINE 1056
#define IDC_TEST_RESULT 1057
#define IDC_TARGET_GROUP 1090
#define IDC_TARGET_PROGRAM 1091
#define IDC_TARGET_TITLE 1092
#define IDC_ELSEWHERE 1093
#define IDC_DELIVERY_METHOD 1094
#define IDC_SOUND_NOT_TYPED 1095
#define IDC_REQUESTS 1058

// Controls of the Requests dialog.
#define IDC_SEND_ON_CONNECT 1070
#define IDC_POLL 1071
#define IDC_POLL_EVERY 1072
#define IDC_REPLY_TIMEOUT 1073
#define IDC_HOTKEY 1074

// Controls of the Network port dialog.
#define IDC_NETWORK_ADDRESS 1080
#define IDC_NETWORK_PORT 1081

// Controls of the Monitor window.
#define IDC_MONITOR_PORT 1060
#define IDC_MONITOR_TEXT 1061
#define IDC_MONITOR_CLEAR 1062

// Commands of the tray menu (Exit is IDOK).
#define ID_STATUS_CONNECT 32771
#define ID_STATUS_PAUSE 32772
#define ID_STATUS_ABOUT 32773
#define ID_STATUS_SEND_NOW 32774

// The system menu's About item.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
