#include "ui/help.h"

#include <stdio.h>

#include "app/app.h"
#include "app/settings.h"
#include "res/resource.h"
#include "ui/dialog_tools.h"

HelpViewerEntry HelpViewer;
int HelpFailureTold;
int HelpKeyPressed;

// Tells the user, once a run, that help cannot be shown, naming the file.
static void TellHelpFailure(HWND owner, WORD id) {
    if (HelpFailureTold)
        return;
    HelpFailureTold = 1;
    char format[MessageTextSize];
    char text[MessageTextSize + MAX_PATH];
    if (LoadStringA(AppInstance, id, format, sizeof format) > 0) {
        snprintf(text, sizeof text, format, HelpFilePath);
        MessageBoxA(owner, text, AppTitle, MB_TASKMODAL | MB_ICONERROR);
    }
}

// Hands one request to the viewer, loading it the first time; a missing
// file or viewer is told to the user instead.
static void ShowHelp(HWND owner, UINT command, DWORD_PTR data) {
    if (!FileExists(HelpFilePath)) {
        TellHelpFailure(owner, IDS_HELP_FILE_MISSING);
        return;
    }
    if (!HelpViewer) {
        HMODULE library = LoadLibraryA("hhctrl.ocx");
        if (library)
            HelpViewer = (HelpViewerEntry)(void (*)())GetProcAddress(library, "HtmlHelpA");
        if (library && !HelpViewer)
            FreeLibrary(library);
    }
    if (!HelpViewer) {
        TellHelpFailure(owner, IDS_HELP_VIEWER_MISSING);
        return;
    }
    HelpViewer(owner, HelpFilePath, command, data);
}

void OpenHelpContents(HWND owner) {
    ShowHelp(owner, HelpShowContents, 0);
}

void OpenHelpTopic(HWND owner, DWORD context) {
    ShowHelp(owner, HelpShowContext, context);
}

int OpenContextHelp(HWND owner, HWND control) {
    DWORD context;
    if (!LookupHelpContext(control, &context))
        return 0;
    OpenHelpTopic(owner, context);
    return 1;
}

void AnswerHelpRequest(HWND dialog, const HELPINFO *request) {
    HWND control = (HWND)request->hItemHandle;
    int key = HelpKeyPressed;
    HelpKeyPressed = 0;
    int own = control == dialog || IsChild(dialog, control);
    if (!(own && OpenContextHelp(dialog, control)) && (key || !own))
        OpenHelpContents(dialog);
}

void CloseHelp() {
    if (HelpViewer)
        HelpViewer(NULL, NULL, HelpCloseAll, 0);
}
