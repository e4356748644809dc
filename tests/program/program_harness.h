// Runs the real KEYPAD32.EXE of the test prefix against the virtual scanner
// and reads what a user would see: the LCD, the request log, the INI files.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// One request as the device logged it.
struct LoggedRequest {
    unsigned Command;
    unsigned Status;
    unsigned Value;
};

// Sends a control command; the reply without its "OK" line, or "ERR..." as is.
std::string Device(const std::string &command);
// One of the device's counters ("polls", "requests", "scanned"); -1 without a device.
long DeviceCounter(const char *name);
// Presses a key on the front panel; the program gets it a moment later.
void PressKey(const char *key);
// Waits until the program has handled every key pressed so far.
void SettlePanel();
// Settles the panel, clears the request log and presses a key that starts a
// job, so that the log and the LCD afterwards are that key's alone.
void PressJobKey(const char *key);
// Ends the device program and waits until it is gone.
void QuitDevice();
// Both LCD lines.
std::string LcdStatus();
std::string LcdMessage();
// Polls a line until it shows the text or five seconds pass; returns what it showed last.
std::string WaitForLcd(int line, const std::string &expected);
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
// Starts KEYPAD32.EXE and waits until its 26 keys are registered. 1/0.
int StartProgram(RunningProgram *program);
// Chooses Exit from the menu and waits for the process; returns its exit code, or -1.
int ExitProgram(RunningProgram *program);
// Waits for the process to end by itself; its exit code, or -1 after the timeout.
int WaitForExit(RunningProgram *program, DWORD timeout);
void CloseProgram(RunningProgram *program);

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
std::string IniValue(const std::string &file, const char *section, const char *key);

// Handle count and committed memory of the program. Wine answers 0 handles
// to GetProcessHandleCount, so the system handle table is counted there.
void ProcessUsage(const RunningProgram &program, DWORD *handles, SIZE_T *privateBytes);
// Waits until the message line shows one of the job's final texts and the
// status line was shown after it (the job's last step); the text, or
// "(no end) " and what the line shows after the timeout.
std::string WaitForJobEnd(const char *const *finalTexts, size_t count, DWORD timeout);

// Polls a condition for up to five seconds; whether it came true.
template <typename Condition> bool WaitUntil(Condition condition) {
    for (int i = 0; i < 250; i++) {
        if (condition()) {
            return true;
        }
        Sleep(20);
    }
    return condition();
}
// Waits up to five seconds for a top-level window of the class and caption; null when none came.
HWND WaitForWindow(const char *windowClass, const char *caption);
// Waits up to five seconds until a window is gone: 1/0.
int WaitForWindowGone(HWND window);
// The text of a dialog's control, asked across processes.
std::string ControlText(HWND dialog, int id);
// The child window of parent that holds control id, searched through
// pages and other nested dialogs; null when none does.
HWND FindControl(HWND parent, int id);
// Clicks tab index of a tab strip of the program with the mouse: 1/0.
int ClickTab(HWND strip, int index);

// Writes a small grey test page (Letter at 100 dpi) into the temporary
// directory once and returns its path.
std::string TestPagePath();
