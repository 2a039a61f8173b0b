// Resource ids. Dialogs 100-199, icons 128, controls 1000-1099.
#pragma once

#define IDI_PROGRAM 128

#define IDD_INTRO 102
#define IDD_THANKS 130
#define IDD_SCAN_PROGRESS 131

#define IDC_RESULT_LIST 1001
#define IDC_FINISH 1003
#define IDC_STATUS 1004
#define IDC_DOWNLOAD_LINK 1015
#define IDC_HOME_LINK 1016
#define IDC_HEADLINE 1032
#define IDC_QUESTION 1033

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
