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

/* Strings. */
#define IDS_APP_TITLE 104
#define IDS_SETTINGS_WRITE_FAILED 105
#define IDS_PERF_INIT_NETWORK 1000
#define IDS_THREAD_INIT_FAILED 1003
#define IDS_PERF_INIT_PROCESSOR 1004
#define IDS_FRAMEWORK_APP_TITLE 57344
#define IDS_FILE_GENERIC 1100
#define IDS_FILE_ACCESS_DENIED 1101
#define IDS_FILE_SHARING_VIOLATION 1102
#define IDS_FILE_BAD_PATH 1103
#define IDS_FILE_DISK_FULL 1104

#endif
