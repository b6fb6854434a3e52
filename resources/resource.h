// Identifiers of the updater's resources, shared by the resource script and
// the code.
#pragma once

// Dialog templates.
#define IDD_FRAME 400
#define IDD_WELCOME 401
#define IDD_DETECTED 402
#define IDD_TRANSFER 403
#define IDD_SUCCESS 404
#define IDD_PARTIAL 405
#define IDD_NOT_INSTALLED 406
#define IDD_HALT 407

// Pictures.
#define IDB_PICTURE 200
#define IDI_UPDATER 800

// Controls of the frame.
#define IDC_PICTURE_FRAME 800

// Controls shared by the pages.
#define IDC_SEPARATOR 500
#define IDC_LABEL (-1)

// Welcome page.
#define IDC_WELCOME_TEXT 100

// Detection page.
#define IDC_VERSION16 100
#define IDC_VERSION32 101
#define IDC_LANGUAGE 102
#define IDC_INSTALL_TYPE 103
#define IDC_DIRECTORY 104
#define IDC_VERSION16_LABEL 110
#define IDC_VERSION32_LABEL 111
#define IDC_VERDICT 120
#define IDC_HINT 140

// Success and partial-update pages.
#define IDC_OUTCOME_TEXT 101
// Partial-update page: shown when the installation was left as it was.
#define IDC_UNCHANGED_TEXT 102

// Transfer page.
#define IDC_TRANSFER_GROUP 99
#define IDC_FILE_NAME 101
#define IDC_BAR 102
#define IDC_PERCENT 103
