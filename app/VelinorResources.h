#pragma once
// Resource and control ids of the dialog program, shared by the resource script and the code.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDR_MAINFRAME 102
#define IDD_SET_BAUD 507
#define IDI_WARNING_SIGN 508

#define IDC_SET_BAUD 10700
#define IDC_STATUS 10701
#define IDC_INDICATOR 10702
#define IDC_RECEIVER_LIST 10703
#define IDC_PORT_LIST 10704
#define IDC_BAUD_LIST 10705
