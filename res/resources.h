// Quillon's resource ids and its resource table: the dialog templates, soft-key menus,
// strings, icon, emblem bitmap and version record the program loads by id, and the
// main window's title, which the emulator shares.
//
// Register the table once with resource::set_resources(&quillon_resources()); the
// program then finds each resource through the platform's lookups by the ids below.
// Several controls share a numeric id across dialogs, so each role has its own name.
#pragma once

#include "platform/resource.h"

// The table lives for the whole process.
const resource::Resources& quillon_resources();

// The main window's title. Another process finds the running window by it: a second
// start of the program, and the emulator's launcher that ends the program.
inline constexpr WCHAR kMainWindowTitle[] = TEXT("QUILLON");

// Dialog templates.
constexpr int IDD_MAIN = 102;
constexpr int IDD_ABOUT = 129;
constexpr int IDD_SET_3GSVC = 135;
constexpr int IDD_SET_KEYLOCK = 137;
constexpr int IDD_SET_ALERT = 138;
constexpr int IDD_SET_GENERAL = 139;

// Menus: the main window's soft keys and the settings dialogs' single "확인" soft key.
constexpr int IDR_MAINMENU = 128;
constexpr int IDR_OK_MENU = 130;

constexpr int IDI_QUILLON = 128;
constexpr int IDB_EMBLEM = 133;
constexpr int IDS_OK = 3;

// Main window: the four status lines.
constexpr int IDC_MODEL = 1002;
constexpr int IDC_3GSVC_STATUS = 1003;
constexpr int IDC_ALERT_STATUS = 1004;
constexpr int IDC_KEYLOCK_STATUS = 1005;

// About box.
constexpr int IDC_EMBLEM = 1000;
constexpr int IDC_VERSION = 1001;

// 3G connection settings.
constexpr int IDC_BLOCK_3GSVC = 1004;
constexpr int IDC_TMAIL_3GSVC = 1005;
constexpr int IDC_TMAIL_3GSVC_ALERT = 1006;
constexpr int IDC_TMAIL_GROUP = 1007;

// Key lock settings.
constexpr int IDC_AUTO_KEYLOCK = 1008;
constexpr int IDC_KEYLOCK_TIMEOUT = 1009;
constexpr int IDC_KEYLOCK_VIBRATE = 1010;
constexpr int IDC_KEYLOCK_GROUP = 1018;

// Missed-call alert settings.
constexpr int IDC_CALL_ALERT = 1013;
constexpr int IDC_SMS_ALERT = 1014;
constexpr int IDC_ALERT_INTERVAL_LABEL = 1004;
constexpr int IDC_ALERT_VIBRATE = 1015;
constexpr int IDC_ALERT_INTERVAL = 1016;
constexpr int IDC_ALERT_GROUP = 1017;

// General settings.
constexpr int IDC_AUTOSTART = 1019;
constexpr int IDC_POWERKEY_UNLOCK = 1020;

// Commands of the main window's "메뉴" popup. The left soft key "닫기" sends IDOK (1);
// ID_MENU_EXIT is also the command the emulator sends to end the program.
constexpr int ID_MENU_3GSVC = 32777;
constexpr int ID_MENU_ALERT = 32778;
constexpr int ID_MENU_KEYLOCK = 32779;
constexpr int ID_MENU_ABOUT = 32780;
constexpr int ID_MENU_EXIT = 32781;
constexpr int ID_MENU_GENERAL = 32787;

// The command bar's soft-key bar definition 128: a single button that sends IDOK and is
// labelled with string IDS_OK.
constexpr resource::SoftKeyBarResource SKB_MAINMENU{IDR_MAINMENU, IDOK, IDS_OK};
