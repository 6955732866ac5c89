/* Resource ids, shared by the resource script and the program. Plain macros: the resource
   compiler reads this file too. */
#ifndef DOZERIN_RES_RESOURCE_H
#define DOZERIN_RES_RESOURCE_H

/* Icons: the program icon and the three state icons (idle, margin, busy). */
#define IDR_MAINFRAME 128
#define IDI_STATE_BUSY 129
#define IDI_STATE_MARGIN 130
#define IDI_STATE_IDLE 131

/* Context menu of the notification-area icon. */
#define IDR_TRAY_MENU 129
#define ID_APP_EXIT 8
#define ID_SETTINGS 32774
/* Its keep-awake submenu: holds of a set length, one without an end, and the stop. */
#define ID_HOLD_30MIN 32780
#define ID_HOLD_1HOUR 32781
#define ID_HOLD_2HOURS 32782
#define ID_HOLD_4HOURS 32783
#define ID_HOLD_NO_END 32784
#define ID_HOLD_STOP 32785

/* Settings sheet: page templates and the add dialogs. */
#define IDD_PAGE_GENERAL 106
#define IDD_PAGE_PROCESS 107
#define IDD_PAGE_WINDOW 108
#define IDD_PAGE_OPTION 109
#define IDD_PAGE_CONNECTION 110
#define IDD_ADD_PROCESS 132
#define IDD_ADD_WINDOW 133
#define IDD_ADD_CONNECTION 134

/* General page. */
#define IDC_NETWORK_TRAFFIC 1000
#define IDC_NETWORK_SPIN 1001
#define IDC_CPU_USAGE 1002
#define IDC_CPU_SPIN 1004
#define IDC_MAX_MARGIN 1005
#define IDC_MARGIN_SPIN 1006
#define IDC_MOUSE_CAP 1009
#define IDC_DISK_TRAFFIC 1014
#define IDC_DISK_SPIN 1015

/* Option page. */
#define IDC_SET_MARGIN_ON_WAKEUP 1000
#define IDC_BUSY_DISPLAY 1003
#define IDC_RESET_DISPLAY_ON_WAKEUP 1004
#define IDC_BATTERY_HOLD 1020
#define IDC_BATTERY_FLOOR 1021

/* List pages. */
#define IDC_PROCESS_LIST 1010
#define IDC_PROCESS_ADD 1011
#define IDC_PROCESS_DELETE 1012
#define IDC_WINDOW_LIST 1006
#define IDC_WINDOW_ADD 1007
#define IDC_WINDOW_DELETE 1008
#define IDC_CONNECTION_LIST 1016
#define IDC_CONNECTION_ADD 1017
#define IDC_CONNECTION_DELETE 1018

/* Add dialogs. */
#define IDC_ADD_PROCESS_NAME 1000
#define IDC_ADD_WINDOW_NAME 1013
#define IDC_ADD_CONNECTION_PORT 1019

/* Strings. */
#define IDS_APP_TITLE 104
#define IDS_SETTINGS_WRITE_FAILED 105
#define IDS_PERF_INIT_NETWORK 1000
#define IDS_THREAD_INIT_FAILED 1003
#define IDS_PERF_INIT_PROCESSOR 1004
#define IDS_PERF_INIT_DISK 1005
#define IDS_FRAMEWORK_APP_TITLE 57344
#define IDS_FILE_GENERIC 1100
#define IDS_FILE_ACCESS_DENIED 1101
#define IDS_FILE_SHARING_VIOLATION 1102
#define IDS_FILE_BAD_PATH 1103
#define IDS_FILE_DISK_FULL 1104
#define IDS_PARSE_INT 1110
#define IDS_PARSE_INT_RANGE 1111
#define IDS_OUT_OF_MEMORY 1120
#define IDS_UNEXPECTED_ERROR 1121
#define IDS_HOLD_MINUTES_LEFT 1130
#define IDS_HOLD_NO_END 1131
#define IDS_KEEP_AWAKE_BAD_VALUE 1132
#define IDS_KEEP_AWAKE_NOT_TAKEN 1133
#define IDS_NOT_RUNNING 1134
#define IDS_HOLD_WHILE 1135
#define IDS_WHILE_NO_COMMAND 1136
#define IDS_WHILE_NOT_STARTED 1137
#define IDS_BATTERY_FLOOR 1138
#define IDS_BATTERY_BY_HAND_ONLY 1139
#define IDS_WHILE_BATCH_REFUSED 1140

#endif
