// Resource and control ids of the formatter's dialogs and icons. Plain
// #defines so that both the resource compiler and C++ can read them.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_VORNAK_DIALOG 102

#define IDI_DEFAULT 128
#define IDI_BRAND_PELLORA 134
#define IDI_BRAND_QZR 135
#define IDI_BRAND_MARQUEN 136
#define IDI_BRAND_VESTIK 137

#define IDC_DRIVE 1003
#define IDC_QUICK 1006
#define IDC_FULL 1007
#define IDC_LABEL 1008
#define IDC_START 1009
#define IDC_EXIT 1
#define IDC_DRIVE_SIZE 1010
#define IDC_SELECT 1011
#define IDC_DRIVE_CAPTION 1012
#define IDC_SIZE_CAPTION 1013
#define IDC_TYPE_GROUP 1014
#define IDC_VOLUME_CAPTION 1016
#define IDC_LOW 1017
#define IDC_PROGRESS 1021
#define IDC_SECTORS 1022
#define IDC_BOOTABLE 1023
#define IDC_STATUS 1024
#define IDC_ABOUT_TOOL 1025
#define IDC_ABOUT_COMPANY 1026

#define IDM_ABOUTBOX 0x0010
