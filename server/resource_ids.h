#pragma once
// Resource identifiers shared by the resource script and the code.

#define IDB_TOOLBOX 1
#define IDB_LOGO 2
#define IDD_ABOUT 100
#define IDC_ABOUT_VERSION 101
#define IDC_ABOUT_TITLE 102
