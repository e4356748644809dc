// Runs the real KEYPAD32.EXE of the test prefix against the virtual scanner
// and reads what a user would see: the LCD, the request log, the INI files.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// One request as the device logged it, with the id of the thread that made it.
struct LoggedRequest {
    unsigned Thread;
    unsigned Command;
    unsigned Status;
    unsigned Value;
};

// Polls done() until it holds or timeout ms (five seconds unless given) have passed: 1 when it
// held.
int WaitUntil(const std::function<bool()> &done, DWORD timeout = 5000);

// Sends a control command; the reply without its "OK" line, or "ERR..." as is.
std::string Device(const std::string &command);
// One of the device's counters ("polls", "requests", "scanned"); -1 without a device.
long DeviceCounter(const char *name);
// Presses a key on the front panel; the program gets it a moment later.
void PressKey(const char *key);
// Waits until the program has handled every key pressed so far: 1, or 0 when
// its timer stopped polling the device.
int SettlePanel();
// Settles the panel, clears the request log and presses a key that starts a
// job, so that the log and the LCD afterwards are that key's alone; 0 when
// the panel did not settle.
int PressJobKey(const char *key);
// Starts the device program from the product's library folder when none
// runs, as the driver's first bind would, so that it can be set up before
// the program binds it: 1 when it answers.
int StartDevice();
// Ends the device program: 1 when it is gone.
int QuitDevice();
// Both LCD lines.
std::string LcdStatus();
std::string LcdMessage();
// Polls a line until it shows the text or the timeout passes; returns what it showed last.
std::string WaitForLcd(int line, const std::string &expected, DWORD timeout = 5000);
std::vector<LoggedRequest> RequestLog();
// Requests of one kind in the log, with byte 9 of Value when given (255 register, 0 unregister).
int CountRequests(const std::vector<LoggedRequest> &log, unsigned command, int byte9 = -1);

const char *ProductDirectory(); // "C:\\Varnel\\"
std::string ProductFile(const char *name);

// The program as a process.
struct RunningProgram {
    PROCESS_INFORMATION Process;
    HWND Window;
};
// Starts KEYPAD32.EXE and waits, as long as a loaded machine needs, until its
// window exists and its 26 keys are registered: 1, or 0 and in *failure
// why: it ended at once (as it does while another KEYPAD32.EXE runs), or it
// was not up in time (it is then ended).
int StartProgram(RunningProgram *program, std::string *failure = nullptr);
// Chooses Exit from the menu and waits for the process; returns its exit code, or -1.
int ExitProgram(RunningProgram *program);
// Waits for the process to end by itself; its exit code, or -1 after the timeout.
int WaitForExit(RunningProgram *program, DWORD timeout);
// Ends the program if it still runs and waits until the process and its
// window are gone: 1, or 0 when they were not in time. Nothing to do twice.
int CloseProgram(RunningProgram *program);
// The file names, in upper case, of the modules the program has loaded.
std::vector<std::string> LoadedModules(const RunningProgram &program);

// Keeps a file's content and puts it back (or deletes the file) on the way out.
class FileBackup {
  public:
    explicit FileBackup(const std::string &path);
    ~FileBackup();

  private:
    std::string Path;
    std::string Content;
    bool Existed;
};
std::string ReadFileText(const std::string &path);
void WriteFileText(const std::string &path, const std::string &text);
// Writes speed-dial key n's recipient files (n.DES and n.INF) in the product
// directory as the program keeps them: each person's name and address.
void WriteKeyFiles(int number, const std::vector<std::pair<std::string, std::string>> &people);
std::string IniValue(const std::string &file, const char *section, const char *key);

// Handle count and committed memory of the program. Wine answers 0 handles
// to GetProcessHandleCount, so the system handle table is counted there.
void ProcessUsage(const RunningProgram &program, DWORD *handles, SIZE_T *privateBytes);
// Waits until the message line shows one of the job's final texts, the status
// line was shown after it (the job's last request) and the job's thread has
// ended; the text, or "(no end) " and what the line shows after the timeout.
std::string WaitForJobEnd(const char *const *finalTexts, size_t count, DWORD timeout);
// The same for a fax job, whose final texts are the product's own.
std::string WaitForFaxJobEnd(DWORD timeout);
// Starts KEYPAD32.EXE on the settings files as they are, gives the device
// these commands ("load PAGE", "press KEY", "digits N", "fault ...") and
// presses Fax: the job's final text, or why there is none. *seconds is the
// time from the Fax key until the message line showed until or the job's
// final text (the job's end when until is null). The device's faults are
// cleared and the program ended afterwards.
std::string RunFaxJob(const std::vector<std::string> &commands, double *seconds,
                      const char *until = nullptr);

// Waits up to five seconds for a top-level window of the class and caption; null when none came.
HWND WaitForWindow(const char *windowClass, const char *caption);
// Waits up to five seconds until a window is gone: 1/0.
int WaitForWindowGone(HWND window);
// The text of a dialog's control, asked across processes.
std::string ControlText(HWND dialog, int id);
// The child window of parent that holds control id, searched through
// pages and other nested dialogs; null when none does.
HWND FindControl(HWND parent, int id);
// The arrow keys that would take the focus from a control of the dialog that
// holds it to one that cannot (a static, a group box), one line each
// ("from 314 on to -1"); "" when there is none.
std::string ArrowsOntoStatics(HWND dialog);
// Clicks tab index of a tab strip of the program with the mouse: 1/0.
int ClickTab(HWND strip, int index);
// Gives a control of the program's dialog the keyboard focus, as the Tab key
// would, and waits until it has it: 1/0.
int FocusControl(HWND dialog, HWND control);
// The pixels of a control's client area on the screen, row by row.
std::vector<COLORREF> ScreenPixels(HWND control);
// Pixels of the control that differ from bitmap resource bitmapId of the
// program, drawn at its own size centred in the client area less inset on
// each side (its transparent pixels left out); -1 when the area is smaller
// than the bitmap.
int BitmapMismatches(HWND control, int bitmapId, int inset);

// Records the program's help requests while it lives. It lays the recording
// viewer (tests/tools/help_recorder.cpp) beside KEYPAD32.EXE as hhctrl.ocx,
// which the program loads at its first help request, and keeps what the
// recorder hands to its window; on the way out it takes the recorder away,
// which it can once no program holds it loaded, so it outlives the program.
class HelpViewer {
  public:
    HelpViewer();
    ~HelpViewer();
    // The context numbers of the context-help requests so far, in order.
    std::vector<DWORD> Contexts();
    // The commands (HH_...) of all requests so far, in order.
    std::vector<UINT> Commands();
    // The help file that the last request naming one named.
    std::string File();

  private:
    static DWORD WINAPI Run(void *self);
    static LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    CRITICAL_SECTION Lock;
    std::vector<DWORD> Requests;
    std::vector<UINT> RequestCommands;
    std::string LastFile;
    HANDLE Ready;
    HANDLE Thread;
    DWORD ThreadId = 0;
};
// Asks the program's dialog for the help topic of its control id, as F1 on it does.
void AskContextHelp(HWND dialog, int id);
// Gives control of the program's dialog the focus and presses F1 there as the
// keyboard does: the key, the help key message that the system posts for it,
// the key's release. 1, or 0 when the control did not get the focus.
int PressHelpKey(HWND dialog, HWND control);

// Answers a box or dialog that the caller's own call opens, on a helper thread
// while that call runs its modal loop: the first visible dialog captioned
// caption (of this process, or of any with AnyProcess) that comes up within
// five seconds gets the action. Wait() waits for that and says whether it
// came; Stop() ends the watch at once, for a box that may or may not come.
class DialogAnswer {
  public:
    typedef void (*Action)(HWND window, void *context);
    enum Owner { ThisProcess, AnyProcess };
    DialogAnswer(const char *caption, Action action, void *context = nullptr,
                 Owner owner = ThisProcess);
    ~DialogAnswer();
    int Wait();
    int Stop();

  private:
    static DWORD WINAPI Run(void *self);
    std::string Caption;
    Action Act;
    void *Context;
    Owner Whose;
    HANDLE Stopped;
    HANDLE Thread;
    volatile LONG Found = 0;
};
// Handles every message waiting for this thread, the dialog's keys through
// the dialog as its modal loop would.
void PumpDialog(HWND dialog);
// Presses a dialog button as a user would.
void PressButton(HWND dialog, int id);
// The text of a message box of the program, once OK has closed it; "(no
// message)" for no box, "(the message stayed)" when it did not close.
std::string AnswerBox(HWND box);
// Presses a button of the program's dialog while file cannot be written (a
// folder stands in its place), then puts the file back, if there was one:
// AnswerBox of the program's message box that came.
std::string PressWhileUnwritable(HWND dialog, int id, const std::string &file);
// An action for a message box: its text goes to *(std::string *)text when
// that is given, then OK is pressed.
void ReadAndPressOk(HWND box, void *text);
std::string WindowText(HWND window);

// The pages the jobs are given: Letter at 100 dpi with a black frame at the
// edge and a black square one inch from the top left corner, over text bars,
// a grey ramp or colour.
enum PageKind { TextPage, GreyPage, ColourPage };
// Writes the page as a BMP file: the path, or "" when it cannot be written.
std::string WriteSourcePage(PageKind kind, const std::string &path);
// A page as the fax job hands it to the image-file library: the header with
// its palette, and the rows (DIB rows, top first).
struct JobPage {
    BITMAPINFOHEADER Info;
    RGBQUAD Palette[256];
    std::vector<BYTE> Rows;
};
// The page at dpi: 1 bit (1 white) for the text page, 8-bit grey, 24-bit B,G,R.
void MakeJobPage(PageKind kind, int dpi, JobPage *page);
// Writes it as the fax job writes its page files, through the image-file
// library of the product: a Group 4 TIFF of a 1-bit page, a JPEG of the
// others. 1 when written.
int WriteJobPageFile(const JobPage &page, const std::string &path);
// Both: the path, or "" when the page cannot be written.
std::string WriteJobPage(PageKind kind, const std::string &path, int dpi = 100);
// A file in the temporary directory.
std::string TempPath(const char *name);
// The names of the files a pattern ("C:\\dir\\*.eml") matches.
std::vector<std::string> FilesMatching(const std::string &pattern);
// Makes the folder (a path ending in a backslash) when missing and deletes the files in it.
void ClearFolder(const std::string &folder);
// Every file under folder (a path ending in a backslash) and its subfolders that holds text.
std::vector<std::string> FilesHolding(const std::string &folder, const std::string &text);
// Makes each dialog of the module's resources in turn, shown, with a
// procedure that does nothing (the fax sheet's pages, child dialogs, under a
// window of their own), hands it to visit (null when it cannot be made) and
// destroys it. The tab library's window class is registered by the caller.
void ForEachDialog(HINSTANCE module, const std::function<void(UINT_PTR name, HWND dialog)> &visit);
