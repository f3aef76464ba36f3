// Resource ids shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101          // the progress dialog's template
#define IDD_PROGRESS_ARIAL 102    // alternative layout, never selected
#define IDI_PROGRAM 110           // program icon group
#define IDC_CANCEL_BUTTON 1004
#define IDC_STATUS_TEXT 1005
#define IDC_PROGRESS_BAR 1006
