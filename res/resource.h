/* Resource ids of KEYPAD32, shared by keypad32.rc and the C++ sources.
   Plain #defines only, so that windres and rc.exe read it as well. */
#ifndef KEYPAD32_RESOURCE_H
#define KEYPAD32_RESOURCE_H

/* Icon and accelerator table share the id 99. */
#define IDI_KEYPAD 99
#define IDR_ACCELERATORS 99
#define IDR_SRGB_PROFILE                                                                           \
    2001 /* RCDATA: the PDF documents' output intent profile, zlib-compressed */

/* Bitmaps, all on the teal background drawn transparent:
   32 x 32 mode buttons and the large level and speed-dial pictures,
   16 x 16 the small level icons. */
#define IDB_MODE_TEXT 1
#define IDB_MODE_PHOTO 2
#define IDB_MODE_COLOR_PHOTO 3
#define IDB_BRIGHTNESS 4
#define IDB_CONTRAST 5
#define IDB_SHARP 6
#define IDB_BLUR 7
#define IDB_DARK 8
#define IDB_LIGHT 9
#define IDB_ADDRESS_BOOK 11
#define IDB_SCISSORS 12
#define IDB_CARD_AND_BIN 13
#define IDB_SCISSORS_GREY 15
#define IDB_CARD_AND_BIN_GREY 16
#define IDB_CONTRAST_GREY 18
#define IDB_SHARP_GREY 19
#define IDB_BLUR_GREY 20

/* Main menu and its commands */
#define IDR_MAIN_MENU 1000
#define IDM_RUN_AT_START 1001
#define IDM_EXIT 1002
#define IDM_FAX_SETUP 1004
#define IDM_COPY_SETUP 1005
#define IDM_HELP_TOPICS 1006
#define IDM_ABOUT 1008
#define IDM_FAX_SERVICE 1009
#define IDM_COPY_SERVICE 1010
#define IDM_SCANNER_DEFAULTS 1011
#define IDM_IO_ADDRESS_VERIFY 1012
#define IDM_WIZARD_HELP 1013
#define IDM_CREATE_FAX_PROFILE 1014
#define IDM_CREATE_MSN_PROFILE 1016
#define IDM_CREATE_INTERNET_PROFILE 1017
#define IDM_CREATE_INTERNET_MSN_PROFILE 1018
#define IDM_OUTBOX 1019

/* Dialog templates */
#define IDD_ABOUT 98
#define IDD_FAX_CONFIG 100
#define IDD_PROFILE_PAGE 200
#define IDD_SPEED_DIAL_PAGE 300
#define IDD_CREATE_PROFILE 400
#define IDD_SCANNER_SETTINGS 500
#define IDD_IO_ADDRESS 600
#define IDD_COPY_CONFIG 700

/* Dialog 98 (About); its button is IDOK */
#define IDC_ABOUT_ICON 981
#define IDC_ABOUT_PURPOSE 982
#define IDC_ABOUT_VERSION 983

/* Dialog 100 (fax configuration sheet); its buttons are IDOK and IDCANCEL */
#define IDC_SHEET_HELP 102
#define IDC_SHEET_TABS 103

/* Dialog 200 (profile page) */
#define IDC_FAX_PROFILE_LIST 203
#define IDC_MAIL_PROFILE_LIST 204
#define IDC_DETAIL_FIRST 206 /* five read-only fields 206..210 */
#define IDC_FAX_PROFILE_BUTTON 622
#define IDC_MAIL_PROFILE_BUTTON 623
#define IDC_DETAIL_LABEL_FIRST 624 /* their five labels 624..628 */
#define IDC_PAGES_AS_LIST 211      /* separate image files or one PDF document */
#define IDC_PAGES_AS_LABEL 629
#define IDC_SEARCHABLE_TEXT 212 /* the PDF document with its pages' text */

/* Dialog 300 (speed-dial page) */
#define IDC_SPEED_DIAL_KEY_FIRST 301 /* fourteen key buttons 301..314 */
#define IDC_RECIPIENT_LIST 317
#define IDC_KEY_LABEL 318
#define IDC_ADDRESS_BOOK 320
#define IDC_REMOVE_RECIPIENTS 321
#define IDC_REMOVE_ALL_RECIPIENTS 322
#define IDC_KEY_LABEL_CAPTION 635

/* Dialog 400 (Create New Profile); its buttons are IDOK "&Create" and IDCANCEL */
#define IDC_PROFILE_NAME 636
#define IDC_SET_DEFAULT_PROFILE 637

/* Dialog 700 (copy configuration); its buttons are IDOK and IDCANCEL */
#define IDC_COPY_ALWAYS_DEFAULT 701
#define IDC_COPY_SPECIFY_PRINTER 702
#define IDC_COPY_DEFAULT_NAME 703
#define IDC_COPY_PRINTER_LIST 704
#define IDC_COPY_PORT 705
#define IDC_COPY_COLOR 706
#define IDC_COPY_RESOLUTION 707
#define IDC_COPY_PRINTABLE_AREA 708
#define IDC_COPY_FIT_IN_PAGE 709
#define IDC_COPY_PRINTER_GROUP 631
#define IDC_COPY_PROPERTIES_GROUP 632
/* Dialog 500 (scanner settings); its buttons are IDOK and IDCANCEL */
#define IDC_BRIGHTNESS_ICON 200
#define IDC_CONTRAST_ICON 501
#define IDC_DARK_ICON 502
#define IDC_BLUR_ICON 503
#define IDC_LIGHT_ICON 504
#define IDC_SHARP_ICON 505
#define IDC_MODE_TEXT 506 /* mode buttons 506..508: Text, Photo, Color Photo */
#define IDC_MODE_PHOTO 507
#define IDC_MODE_COLOR_PHOTO 508
#define IDC_BRIGHTNESS_SLIDER 509
#define IDC_BRIGHTNESS_VALUE 510
#define IDC_CONTRAST_SLIDER 511
#define IDC_CONTRAST_VALUE 512
/* Dialog 600 (I/O address verification); IDOK is "&Auto. Verify", IDCANCEL "Cancel" */
#define IDC_VERIFY_PORT 601
#define IDC_APPLY_PORT 602
#define IDC_PORT_FIRST 603 /* eight address buttons 603..610, in port-table order */
#define IDC_PORT_LAST 610
#define IDC_VERIFY_LINE 611
#define IDC_PORT_FRAME 634
#define IDS_ADDRESS_NOT_CHANGED 600

/* String table: titles and start-up */
#define IDS_APP_TITLE 0
#define IDS_NO_DEVICE 2

/* String table: error messages of the services and dialogs */
#define IDS_SCANNER_IN_USE 3
#define IDS_OUT_OF_MEMORY 5
#define IDS_FAX_DLL_MISSING 8
#define IDS_NO_FAX_PROFILE 9
#define IDS_ADDRESS_BOOK_FAILED 10
#define IDS_FAX_DISABLED 12

/* String table: tabs of the fax configuration sheet */
#define IDS_TAB_PROFILES 17
#define IDS_TAB_SPEED_DIAL 18

/* String table: tooltips of the scanner settings dialog */
#define IDS_TIP_TEXT 19
#define IDS_TIP_PHOTO 20
#define IDS_TIP_COLOR_PHOTO 21
#define IDS_TIP_BRIGHTNESS 22
#define IDS_TIP_CONTRAST 23
#define IDS_TIP_LIGHT 24
#define IDS_TIP_DARK 25
#define IDS_TIP_BLUR 26
#define IDS_TIP_SHARP 27

/* String table: tooltips of the speed-dial page */
#define IDS_TIP_ADDRESS_BOOK 29
#define IDS_TIP_REMOVE_NUMBERS 30
#define IDS_TIP_REMOVE_ALL_NUMBERS 31

/* String table: fax resolutions, IDS_RESOLUTION_BASE + index 0..3 */
#define IDS_RESOLUTION_BASE 32
#define IDS_RESOLUTION_BEST 32
#define IDS_RESOLUTION_DRAFT 33
#define IDS_RESOLUTION_FINE 34
#define IDS_RESOLUTION_SUPER 35

/* String table: paper sizes, IDS_PAPER_BASE + index 0..3 */
#define IDS_PAPER_BASE 36
#define IDS_PAPER_LETTER 36
#define IDS_PAPER_LEGAL 37
#define IDS_PAPER_A4 38
#define IDS_PAPER_B4 39

/* String table: I/O address verification */
#define IDS_VERIFYING_PORT 40
#define IDS_NO_PORT_AVAILABLE 41
#define IDS_PORT_INVALID 42
#define IDS_PORT_VERIFIED 43
#define IDS_ADDRESS_CHANGED 44

/* String table: copy service and copy configuration */
#define IDS_COPY_INIT_FAILED 45
#define IDS_UNIT_CM 46
#define IDS_UNIT_INCH 47
#define IDS_YES 48
#define IDS_NO 49
#define IDS_NO_PRINTERS 50
#define IDS_PRINT_DRIVER_FAILED 51
#define IDS_COPY_SETTINGS_NOT_SAVED 56

/* String table: profile discovery */
#define IDS_NO_MAIL_PROFILE 52
#define IDS_NO_PROFILES 53

/* String table: the fax configuration sheet */
#define IDS_SHEET_FAILED 54
#define IDS_SETTINGS_NOT_SAVED 55
#define IDS_SPEED_DIALS_NOT_SAVED 57

/* String table: the help file */
#define IDS_HELP_FILE_MISSING 70
#define IDS_HELP_VIEWER_MISSING 71
/* String table: what became of a sent message, on the LCD (at most 16
   characters), IDS_OUTCOME_SENT + the outcome the mail library posts - 1 */
#define IDS_OUTCOME_SENT 72
#define IDS_OUTCOME_PARTLY_SENT 73
#define IDS_OUTCOME_FAILED 74
#define IDS_OUTCOME_DELAYED 75
/* String table: the scanner settings dialog */
#define IDS_LEVELS_NOT_SAVED 58

#endif
