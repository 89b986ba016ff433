#pragma once
#define IDD_TEST_DIALOG 9001
#define IDC_NAME 1001
#define IDC_NUMBER 1002
#define IDC_BYTE 1003
#define IDC_SIDES 1004
#define IDC_FLAG 1005
#define IDC_APPLY 1006
#define IDC_WATCHED 1007
