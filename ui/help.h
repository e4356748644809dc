// The one door to the help file: every help command and context-help request
// goes through here with the help file path and reaches the HTML Help viewer.
#pragma once
#include <windows.h>

// The viewer's entry point, HtmlHelpA of hhctrl.ocx.
typedef HWND(WINAPI *HelpViewerEntry)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

// The viewer's commands this program gives (HH_DISPLAY_TOC, HH_HELP_CONTEXT,
// HH_CLOSE_ALL).
enum : UINT { HelpShowContents = 0x0001, HelpShowContext = 0x000F, HelpCloseAll = 0x0012 };

// The viewer's entry once found: hhctrl.ocx is loaded at the first help
// request that needs it. A test puts a recorder here first.
extern HelpViewerEntry HelpViewer;
// Set once the user was told that help cannot be shown: told once a run.
extern int HelpFailureTold;

// The help file's contents: Help Topics, Wizard Help and the sheet's Help.
void OpenHelpContents(HWND owner);
// Opens the topic of a context number of the help file.
void OpenHelpTopic(HWND owner, DWORD context);
// Opens the topic of control when it has one: 1, else 0 and nothing shown.
int OpenContextHelp(HWND owner, HWND control);
// Set by the message hook when F1 goes down, cleared by the next other key
// or click and by the help request that F1 brings.
extern int HelpKeyPressed;
// Answers a help request (WM_HELP) that reached dialog: the topic of the
// dialog's control when it has one. F1 on a control without one, and a
// request passed on from a window the dialog owns (the mail library's
// dialogs), show the contents; the ? button on such a control shows nothing.
void AnswerHelpRequest(HWND dialog, const HELPINFO *request);
// Closes the viewer's windows; nothing when no help was opened.
void CloseHelp();
