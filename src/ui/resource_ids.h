// Resource identifiers shared by the code and the resource script.
#pragma once

#define IDI_MAIN 800
#define IDD_QUESTION 109
#define IDD_PROGRESS 110
#define IDC_MESSAGE 1000
#define IDC_YESTOALL 1001
#define IDC_NOTOALL 1002
#define IDC_PROGRESSBAR 1009
