/* Resource ids of the bootstrapper's own module. Included by carryall.rc and by C++.
   The numbers are fixed: code and tests find the dialogs, pictures and controls by
   them, so change none of them. String-table ids live in strings.txt. */
#ifndef CARRYALL_RESOURCE_IDS_H
#define CARRYALL_RESOURCE_IDS_H

/* Icon of every window of the bootstrapper. */
#define IDI_APP 5

/* Dialogs. */
#define IDD_ABOUTBOX 100
#define IDD_REPORT 102
#define IDD_SPLASH 131
#define IDD_TEMP_FOLDER 146

/* Bitmaps. */
#define IDR_BITMAP_BANNER 130
#define IDB_SPLASH 133

/* Controls of the report dialog (IDD_REPORT). */
#define IDC_MESSAGE 1000
#define IDC_LINK 1001
#define IDC_HEADING 1003

/* Controls of the About dialog (IDD_ABOUTBOX). */
#define IDC_ABOUT_VERSION 1001
#define IDC_ABOUT_COPYRIGHT 1002

/* Control of the temporary-folder dialog (IDD_TEMP_FOLDER). */
#define IDC_TEMP_FOLDER_EDIT 1005

#endif
