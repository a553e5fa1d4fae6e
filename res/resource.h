// res/resource.h: every resource and control id, shared by the resource
// script and the code. Plain #defines so that windres can read it too.
#pragma once

// Dialogs.
#define IDD_MAIN 102
#define IDD_ABOUT 105

// Icons.
#define IDI_APP 101
#define IDI_SUBFOLDER 103
#define IDI_PATH_FOLDER 104

// Controls of IDD_MAIN.
#define IDC_FOLDER_LIST 1000
#define IDC_PATH_LABEL 1001
#define IDC_SAVE_LABEL 1002
#define IDC_OUTPUT_FILE 1003
#define IDC_BROWSE 1004
#define IDC_INCLUDE_SUBFOLDERS 1005
#define IDC_CREATE 1008
#define IDC_EXIT 1009
#define IDC_DRIVE_LABEL 1010
#define IDC_DRIVE_COMBO 1011
#define IDC_FILTER_LABEL 1013
#define IDC_FILTER 1014
#define IDC_OPTIONS_GROUP 1015
#define IDC_SAVE_MAIN_PATH 1016
#define IDC_SAVE_DETAILS 1018
#define IDC_SORT_GROUP 1019
#define IDC_SORT_NAME 1020
#define IDC_SORT_EXTENSION 1021
#define IDC_SORT_SIZE 1022
#define IDC_SORT_DATE 1023
#define IDC_INCLUDE_FILES 1024
#define IDC_SAVE_FOLDER_PATH 1027

// Controls of IDD_ABOUT (its button is IDOK, 1).
#define IDC_ABOUT_ICON 1025
#define IDC_ABOUT_TEXT 1026

// System menu command of the main dialog.
#define IDM_ABOUT 16
