#include "program_harness.h"

#include <commctrl.h>
#include <htmlhelp.h>
#include <psapi.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "device_client.h"
#include "page_image.h"
#include "abi/driver_abi.h"
#include "abi/image_file_abi.h"
#include "abi/telvex_abi.h"
#include "fax/fax_job.h"
#include "res/resource.h"
#include "tests/tools/help_record.h"

std::string Device(const std::string &command) {
    static char reply[256 * 1024];
    int result = DeviceCommand(command.c_str(), reply, sizeof reply);
    if (result == DeviceNotRunning) {
        return "ERR not running";
    }
    std::string text = reply;
    if (result == DeviceReplyOk && text.compare(0, 3, "OK\n") == 0) {
        return text.substr(3);
    }
    return text;
}

int WaitUntil(const std::function<bool()> &done, DWORD timeout) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeout) {
            return 0;
        }
        Sleep(20);
    }
    return 1;
}

void PressKey(const char *key) {
    Device(std::string("press ") + key);
}

long DeviceCounter(const char *name) {
    std::string counters = Device("counters");
    std::string key = std::string(name) + "=";
    size_t at = counters.find(key);
    return at == std::string::npos ? -1 : atol(counters.c_str() + at + key.size());
}

// The device posts keys to the program's window, and the program polls the
// device from its timer. WM_TIMER is only generated when no posted message
// waits, so the second poll after the keys comes after they were handled.
int SettlePanel() {
    long start = DeviceCounter("polls");
    return WaitUntil([start] { return DeviceCounter("polls") >= start + 2; }, 5000);
}

int PressJobKey(const char *key) {
    if (!SettlePanel()) {
        return 0;
    }
    Device("log clear");
    PressKey(key);
    return 1;
}

// How long a program may take to start or to end on a loaded machine.
static const DWORD ProcessTimeout = 60000;

int StartDevice() {
    if (!DeviceIsRunning()) {
        std::string program = ProductFile("DLL32\\VNLPANEL.EXE");
        std::string folder = ProductFile("DLL32");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(program.c_str(), NULL, NULL, NULL, FALSE, DETACHED_PROCESS, NULL,
                            folder.c_str(), &startup, &process)) {
            return 0;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return WaitUntil([] { return Device("ping") == ""; }, ProcessTimeout);
}

int QuitDevice() {
    Device("quit");
    return WaitUntil([] { return !DeviceIsRunning(); }, ProcessTimeout);
}

static std::string LcdLine(const char *prefix) {
    std::string lcd = Device("lcd");
    size_t at = lcd.find(prefix);
    if (at == std::string::npos) {
        return "(no lcd)";
    }
    at += strlen(prefix);
    return lcd.substr(at, lcd.find('\n', at) - at);
}

std::string LcdStatus() {
    return LcdLine("status=");
}
std::string LcdMessage() {
    return LcdLine("message=");
}

std::string WaitForLcd(int line, const std::string &expected, DWORD timeout) {
    std::string shown;
    WaitUntil(
        [&] {
            shown = line == 0 ? LcdStatus() : LcdMessage();
            return shown == expected;
        },
        timeout);
    return shown;
}

std::vector<LoggedRequest> RequestLog() {
    std::vector<LoggedRequest> log;
    std::string text = Device("log");
    const char *at = text.c_str();
    while (*at) {
        unsigned sequence, thread, command, status, value;
        if (sscanf(at, "%u %u %u %u %u", &sequence, &thread, &command, &status, &value) == 5) {
            log.push_back({thread, command, status, value});
        }
        const char *next = strchr(at, '\n');
        if (!next) {
            break;
        }
        at = next + 1;
    }
    return log;
}

int CountRequests(const std::vector<LoggedRequest> &log, unsigned command, int byte9) {
    int count = 0;
    for (const LoggedRequest &request : log) {
        if (request.Command == command &&
            (byte9 < 0 || (int)((request.Value >> 8) & 0xFF) == byte9)) {
            count++;
        }
    }
    return count;
}

const char *ProductDirectory() {
    return "C:\\Varnel\\";
}

std::string ProductFile(const char *name) {
    return std::string(ProductDirectory()) + name;
}

// The main window of a process, or null; an earlier program's may still be there.
static HWND MainWindowOf(DWORD processId) {
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, "Fax Configuration", NULL)) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) {
            return window;
        }
    }
    return NULL;
}

int StartProgram(RunningProgram *program, std::string *failure) {
    std::string reason;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string path = ProductFile("EXE32\\KEYPAD32.EXE");
    char commandLine[MAX_PATH];
    lstrcpynA(commandLine, path.c_str(), sizeof commandLine);
    program->Window = NULL;
    // The keys counted are this start's.
    Device("log clear");
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &program->Process)) {
        reason = "KEYPAD32.EXE could not be started";
    }
    // Running means: its window exists and the last key is registered.
    int ended = 0;
    auto up = [&] {
        program->Window = MainWindowOf(program->Process.dwProcessId);
        if (program->Window && CountRequests(RequestLog(), DrvRegisterKey, 255) >= 26) {
            return true;
        }
        ended = WaitForSingleObject(program->Process.hProcess, 0) == WAIT_OBJECT_0;
        return ended != 0;
    };
    int running = reason.empty() && WaitUntil(up, ProcessTimeout) && !ended;
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(program->Process.hProcess, &code);
        reason = "KEYPAD32.EXE ended at once with exit code " + std::to_string(code) +
                 (FindWindowA("Fax Configuration", NULL)
                      ? ", as a KEYPAD32.EXE that is still running keeps others from starting"
                      : "");
    } else if (!running && reason.empty()) {
        reason = "KEYPAD32.EXE showed no window with its 26 keys registered within " +
                 std::to_string(ProcessTimeout / 1000) + " s";
        CloseProgram(program);
    }
    if (failure) {
        *failure = reason;
    }
    return running;
}

int WaitForExit(RunningProgram *program, DWORD timeout) {
    if (WaitForSingleObject(program->Process.hProcess, timeout) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(program->Process.hProcess, &code);
    return (int)code;
}

int ExitProgram(RunningProgram *program) {
    PostMessageA(program->Window, WM_COMMAND, IDM_EXIT, 0);
    return WaitForExit(program, ProcessTimeout);
}

std::vector<std::string> LoadedModules(const RunningProgram &program) {
    HMODULE modules[256];
    DWORD bytes = 0;
    std::vector<std::string> names;
    if (!EnumProcessModules(program.Process.hProcess, modules, sizeof modules, &bytes)) {
        return names;
    }
    for (DWORD i = 0; i < bytes / sizeof modules[0] && i < 256; i++) {
        char name[MAX_PATH];
        if (GetModuleBaseNameA(program.Process.hProcess, modules[i], name, sizeof name)) {
            CharUpperA(name);
            names.push_back(name);
        }
    }
    return names;
}

int CloseProgram(RunningProgram *program) {
    if (!program->Process.hProcess) {
        return 1;
    }
    if (WaitForSingleObject(program->Process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->Process.hProcess, 1);
    }
    DWORD id = program->Process.dwProcessId;
    // The next start must not find this one's window and give way to it.
    int gone = WaitForSingleObject(program->Process.hProcess, ProcessTimeout) == WAIT_OBJECT_0 &&
               WaitUntil([id] { return MainWindowOf(id) == NULL; }, ProcessTimeout);
    CloseHandle(program->Process.hThread);
    CloseHandle(program->Process.hProcess);
    program->Process = PROCESS_INFORMATION();
    program->Window = NULL;
    return gone;
}

std::string ReadFileText(const std::string &path) {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

void WriteFileText(const std::string &path, const std::string &text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
}

FileBackup::FileBackup(const std::string &path)
    : Path(path), Content(ReadFileText(path)),
      Existed(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {}

FileBackup::~FileBackup() {
    // The profile functions cache INI files: flush before replacing one.
    WritePrivateProfileStringA(NULL, NULL, NULL, Path.c_str());
    if (Existed) {
        WriteFileText(Path, Content);
    } else {
        DeleteFileA(Path.c_str());
    }
}

std::string IniValue(const std::string &file, const char *section, const char *key) {
    char value[1024];
    GetPrivateProfileStringA(section, key, "(missing)", value, sizeof value, file.c_str());
    return value;
}

static void PagePixel(PageKind kind, LONG x, LONG y, BYTE *bgr) {
    const LONG width = 850, height = 1100;
    bool frame = x < 10 || y < 10 || x >= width - 10 || y >= height - 10;
    bool mark = x >= 100 && x < 150 && y >= 100 && y < 150;
    if (frame || mark) {
        bgr[0] = bgr[1] = bgr[2] = 0;
    } else if (kind == TextPage) {
        bool bar = y > 200 && y < 1000 && (y % 40) < 14 && x > 80 && x < 680 + (y * 7) % 90;
        bgr[0] = bgr[1] = bgr[2] = bar ? 0 : 255;
    } else if (kind == GreyPage) {
        bgr[0] = bgr[1] = bgr[2] = (BYTE)(40 + 200 * x / width * (0.6 + 0.4 * sin(y / 70.0)));
    } else {
        bgr[2] = (BYTE)(128 + 110 * sin(x / 80.0));
        bgr[1] = (BYTE)(30 + 200 * y / height);
        bgr[0] = (BYTE)(128 + 110 * cos((x + y) / 120.0));
    }
}

void WriteKeyFiles(int number, const std::vector<std::pair<std::string, std::string>> &people) {
    std::vector<RecipientRecord> records;
    for (const auto &person : people) {
        records.push_back(
            {0, 1, (char *)person.first.c_str(), (char *)person.second.c_str(), 0, nullptr});
    }
    DWORD count = (DWORD)records.size();
    std::string strings(LayOutRecipientStrings(records.data(), count, nullptr), '\0');
    LayOutRecipientStrings(records.data(), count, (BYTE *)&strings[0]);
    std::string des(count * sizeof(StoredRecipient), '\0');
    StoreRecipients(records.data(), count, (StoredRecipient *)&des[0]);
    WriteFileText(ProductFile((std::to_string(number) + ".DES").c_str()), des);
    WriteFileText(ProductFile((std::to_string(number) + ".INF").c_str()), strings);
}

std::string WriteSourcePage(PageKind kind, const std::string &path) {
    const LONG width = 850, height = 1100;
    std::vector<BYTE> bgr(width * height * 3);
    for (LONG y = 0; y < height; y++) {
        for (LONG x = 0; x < width; x++) {
            PagePixel(kind, x, y, &bgr[(y * width + x) * 3]);
        }
    }
    RasterImage image = {width, height, 24, width * 3, bgr.data(), 100, 1};
    return WriteBmpFile(path.c_str(), &image) ? path : "";
}

void MakeJobPage(PageKind kind, int dpi, JobPage *page) {
    LONG width = 85 * dpi / 10, height = 11 * dpi;
    WORD bits = kind == TextPage ? 1 : kind == GreyPage ? 8 : 24;
    DWORD stride = (width * bits + 31) / 32 * 4;
    // The resolution in dots per inch, as the job gives it.
    page->Info = {sizeof page->Info, width, height, 1, bits, BI_RGB, 0, dpi, dpi, 0, 0};
    for (int i = 0; i < 256; i++) {
        BYTE level = (BYTE)(bits == 1 ? i * 255 : i);
        page->Palette[i] = {level, level, level, 0};
    }
    page->Rows.assign((size_t)stride * height, 0);
    for (LONG y = 0; y < height; y++) {
        BYTE *row = &page->Rows[(size_t)y * stride];
        for (LONG x = 0; x < width; x++) {
            BYTE bgr[3];
            PagePixel(kind, x * 100 / dpi, y * 100 / dpi, bgr);
            if (bits == 1) {
                row[x / 8] |= bgr[0] ? 0x80 >> x % 8 : 0;
            } else if (bits == 8) {
                row[x] = bgr[0];
            } else {
                memcpy(row + 3 * x, bgr, 3);
            }
        }
    }
}

static int WINAPI SupplyJobPageLine(void *source, BYTE *row, int y) {
    const JobPage *page = (const JobPage *)source;
    size_t stride = page->Rows.size() / page->Info.biHeight;
    memcpy(row, &page->Rows[stride * y], stride);
    return 0;
}

int WriteJobPageFile(const JobPage &page, const std::string &path) {
    HMODULE library = LoadLibraryA(ProductFile("DLL32\\accugnt5.dll").c_str());
    WriteImageFileProc write = library ? (WriteImageFileProc)(void (*)())GetProcAddress(
                                             library, MAKEINTRESOURCEA(WriteImageFileOrdinal))
                                       : NULL;
    HFILE file = write ? _lcreat(path.c_str(), 0) : HFILE_ERROR;
    int format = page.Info.biBitCount == 1 ? ImageFormatTiffG4 : ImageFormatJpeg;
    int written = file != HFILE_ERROR &&
                  write(file, &page.Info, format, SupplyJobPageLine, (void *)&page) == ImageWritten;
    if (file != HFILE_ERROR) {
        _lclose(file);
    }
    if (library) {
        FreeLibrary(library);
    }
    return written;
}

std::string WriteJobPage(PageKind kind, const std::string &path, int dpi) {
    JobPage page;
    MakeJobPage(kind, dpi, &page);
    return WriteJobPageFile(page, path) ? path : "";
}

std::string TempPath(const char *name) {
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + name;
}

std::vector<std::string> FilesMatching(const std::string &pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return names;
}

void ClearFolder(const std::string &folder) {
    CreateDirectoryA(folder.c_str(), NULL);
    for (const std::string &name : FilesMatching(folder + "*")) {
        DeleteFileA((folder + name).c_str());
    }
}

std::vector<std::string> FilesHolding(const std::string &folder, const std::string &text) {
    std::vector<std::string> holding;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        std::string name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != "..") {
                for (const std::string &inner : FilesHolding(folder + name + "\\", text)) {
                    holding.push_back(inner);
                }
            }
        } else if (ReadFileText(folder + name).find(text) != std::string::npos) {
            holding.push_back(folder + name);
        }
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            break;
        }
    }
    return holding;
}

// The system's handle table (NtQuerySystemInformation class 16).
struct HandleEntry {
    ULONG OwnerProcessId;
    BYTE ObjectType;
    BYTE Flags;
    USHORT Value;
    PVOID Object;
    ULONG Access;
};
struct HandleTable {
    ULONG Count;
    HandleEntry Entries[1];
};
typedef LONG(WINAPI *QuerySystemProc)(ULONG type, PVOID buffer, ULONG size, PULONG needed);

static DWORD CountHandlesOf(DWORD processId) {
    DWORD count = 0;
    QuerySystemProc query = reinterpret_cast<QuerySystemProc>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    while (query && query(16, buffer.data(), (ULONG)buffer.size(), &needed) != 0 &&
           buffer.size() < (64u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    const HandleTable *table = (const HandleTable *)buffer.data();
    for (ULONG i = 0; query && i < table->Count; i++) {
        count += table->Entries[i].OwnerProcessId == processId;
    }
    return count;
}

void ProcessUsage(const RunningProgram &program, DWORD *handles, SIZE_T *privateBytes) {
    *handles = 0;
    GetProcessHandleCount(program.Process.hProcess, handles);
    // Wine answers 0 here; its system handle table has the program's handles.
    if (*handles == 0) {
        *handles = CountHandlesOf(program.Process.dwProcessId);
    }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(program.Process.hProcess, &counters, sizeof counters);
    // The commit charge; Wine leaves the _EX record's PrivateUsage at 0.
    *privateBytes = counters.PagefileUsage;
}

std::string WaitForJobEnd(const char *const *finalTexts, size_t count, DWORD timeout) {
    std::string text;
    DWORD jobThread = 0;
    int ended = WaitUntil(
        [&] {
            // EndJob's last request shows the status line again. The log is
            // read before the text: a text read first could be the one an
            // earlier job left, with the log already showing this job's end.
            std::vector<LoggedRequest> log = RequestLog();
            if (log.empty() || log.back().Command != DrvShowText || log.back().Value != 0) {
                return false;
            }
            text = LcdMessage();
            jobThread = log.back().Thread;
            return std::any_of(finalTexts, finalTexts + count,
                               [&](const char *end) { return text == end; });
        },
        timeout);
    if (!ended) {
        return "(no end) " + LcdMessage();
    }
    // EndJob clears JobBusy after that request, as the thread's last step: the
    // next key finds the panel free once the thread has ended.
    // The window's thread writes the status line too (a destination switched
    // on the sheet) and never ends: a job that ended before it has no thread left.
    HANDLE thread =
        GetWindowThreadProcessId(FindWindowA("Fax Configuration", NULL), NULL) == jobThread
            ? NULL
            : OpenThread(SYNCHRONIZE, FALSE, jobThread);
    DWORD gone = thread ? WaitForSingleObject(thread, timeout) : WAIT_OBJECT_0;
    if (thread) {
        CloseHandle(thread);
    }
    return gone == WAIT_OBJECT_0 ? text : "(job thread still running) " + text;
}

std::string WaitForFaxJobEnd(DWORD timeout) {
    const char *texts[FaxStatusCount + 1] = {FaxSentText};
    std::copy(FaxStatusTexts, FaxStatusTexts + FaxStatusCount, texts + 1);
    return WaitForJobEnd(texts, FaxStatusCount + 1, timeout);
}

std::string RunFaxJob(const std::vector<std::string> &commands, double *seconds,
                      const char *until) {
    RunningProgram program = {};
    std::string failure, outcome = "(the panel did not settle)";
    if (!StartProgram(&program, &failure)) {
        return "(not started) " + failure;
    }
    Device("clear");
    for (const std::string &command : commands) {
        Device(command);
    }
    const DWORD timeout = 600000;
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    end = start;
    if (PressJobKey("fax")) {
        if (until) {
            // The message line alone, which takes little from the program timed.
            WaitUntil(
                [&] {
                    std::string text = LcdMessage();
                    return text == until || text == FaxSentText ||
                           std::count(FaxStatusTexts, FaxStatusTexts + FaxStatusCount, text);
                },
                timeout);
            QueryPerformanceCounter(&end);
        }
        outcome = WaitForFaxJobEnd(timeout);
        if (!until) {
            QueryPerformanceCounter(&end);
        }
    }
    QueryPerformanceFrequency(&frequency);
    *seconds = (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    Device("fault clear");
    ExitProgram(&program);
    CloseProgram(&program);
    return outcome;
}

DialogAnswer::DialogAnswer(const char *caption, Action action, void *context, Owner owner)
    : Caption(caption), Act(action), Context(context), Whose(owner) {
    Stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

DialogAnswer::~DialogAnswer() {
    Stop();
    CloseHandle(Stopped);
}

int DialogAnswer::Wait() {
    if (Thread) {
        WaitForSingleObject(Thread, INFINITE);
        CloseHandle(Thread);
        Thread = nullptr;
    }
    return Found;
}

int DialogAnswer::Stop() {
    SetEvent(Stopped);
    return Wait();
}

DWORD WINAPI DialogAnswer::Run(void *self) {
    DialogAnswer *answer = (DialogAnswer *)self;
    HWND window = NULL;
    WaitUntil(
        [answer, &window] {
            window = FindWindowA("#32770", answer->Caption.c_str());
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (!window || !IsWindowVisible(window) ||
                (answer->Whose == ThisProcess && process != GetCurrentProcessId())) {
                window = NULL;
            }
            return window || WaitForSingleObject(answer->Stopped, 0) == WAIT_OBJECT_0;
        },
        5000);
    if (window) {
        answer->Found = 1;
        answer->Act(window, answer->Context);
    }
    return 0;
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

std::string AnswerBox(HWND box) {
    if (!box) {
        return "(no message)";
    }
    std::string text = ControlText(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return WaitForWindowGone(box) ? text : "(the message stayed)";
}

std::string PressWhileUnwritable(HWND dialog, int id, const std::string &file) {
    // Replacing: a copy kept by a run that died here would stop every later one.
    std::string kept = file + ".kept";
    bool existed = GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed && !MoveFileExA(file.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return "(" + file + " could not be moved)";
    }
    CreateDirectoryA(file.c_str(), NULL);
    PressButton(dialog, id);
    HWND box = WaitForWindow("#32770", "Varnel Keypad Program");
    RemoveDirectoryA(file.c_str());
    if (existed) {
        MoveFileA(kept.c_str(), file.c_str());
    }
    return AnswerBox(box);
}

void ReadAndPressOk(HWND box, void *text) {
    if (text) {
        *(std::string *)text = WindowText(GetDlgItem(box, 0xFFFF)); // the box's text control
    }
    PressButton(box, IDOK);
}

std::string WindowText(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int FocusControl(HWND dialog, HWND control) {
    PostMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
    DWORD thread = GetWindowThreadProcessId(dialog, NULL);
    return WaitUntil([thread, control] {
        GUITHREADINFO focus = {};
        focus.cbSize = sizeof focus;
        return GetGUIThreadInfo(thread, &focus) && focus.hwndFocus == control;
    });
}

std::vector<COLORREF> ScreenPixels(HWND control) {
    RECT r = {};
    // A dialog is found before its controls are made.
    if (!GetClientRect(control, &r)) {
        return {};
    }
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    HDC screen = GetDC(NULL);
    HDC shot = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(shot, picture);
    BitBlt(shot, 0, 0, r.right, r.bottom, screen, origin.x, origin.y, SRCCOPY);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < r.bottom; y++) {
        for (int x = 0; x < r.right; x++) {
            pixels.push_back(GetPixel(shot, x, y));
        }
    }
    SelectObject(shot, old);
    DeleteObject(picture);
    DeleteDC(shot);
    ReleaseDC(NULL, screen);
    return pixels;
}

int BitmapMismatches(HWND control, int bitmapId, int inset) {
    HMODULE program =
        LoadLibraryExA(ProductFile("EXE32\\KEYPAD32.EXE").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = LoadBitmapA(program, MAKEINTRESOURCEA(bitmapId));
    BITMAP size = {};
    RECT r = {};
    GetClientRect(control, &r);
    int width = r.right - 2 * inset;
    int height = r.bottom - 2 * inset;
    int mismatches = -1;
    if (bitmap && GetObjectA(bitmap, sizeof size, &size) && width >= size.bmWidth &&
        height >= size.bmHeight) {
        int left = inset + (width - size.bmWidth) / 2;
        int top = inset + (height - size.bmHeight) / 2;
        std::vector<COLORREF> shown = ScreenPixels(control);
        shown.resize((size_t)r.right * r.bottom, CLR_INVALID);
        HDC source = CreateCompatibleDC(NULL);
        HGDIOBJ old = SelectObject(source, bitmap);
        mismatches = 0;
        for (int y = 0; y < size.bmHeight; y++) {
            for (int x = 0; x < size.bmWidth; x++) {
                COLORREF want = GetPixel(source, x, y);
                mismatches += want != 0x808000 && want != shown[(top + y) * r.right + left + x];
            }
        }
        SelectObject(source, old);
        DeleteDC(source);
    }
    DeleteObject(bitmap);
    FreeLibrary(program);
    return mismatches;
}

void AskContextHelp(HWND dialog, int id) {
    HELPINFO help = {};
    help.cbSize = sizeof help;
    help.iContextType = HELPINFO_WINDOW;
    help.iCtrlId = id;
    help.hItemHandle = FindControl(dialog, id);
    SendMessageA(dialog, WM_HELP, 0, (LPARAM)&help);
}

int PressHelpKey(HWND dialog, HWND control) {
    const UINT HelpKeyMessage = 0x004D; // WM_KEYF1, which the headers do not name
    if (!FocusControl(dialog, control)) {
        return 0;
    }
    PostMessageA(control, WM_KEYDOWN, VK_F1, 0x003B0001);
    PostMessageA(control, HelpKeyMessage, 0, 0);
    PostMessageA(control, WM_KEYUP, VK_F1, 0xC03B0001);
    return 1;
}

// Where HelpViewer lays the recorder.
static std::string HelpRecorderFile() {
    return ProductFile("EXE32\\hhctrl.ocx");
}

LRESULT CALLBACK HelpViewer::Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HelpViewer *viewer = (HelpViewer *)GetWindowLongPtrA(window, GWLP_USERDATA);
    const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
    if (message != WM_COPYDATA || !viewer || copy->dwData != HelpRecordTag ||
        copy->cbData != sizeof(HelpRecord)) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const HelpRecord *request = (const HelpRecord *)copy->lpData;
    EnterCriticalSection(&viewer->Lock);
    viewer->RequestCommands.push_back(request->Command);
    if (request->Command == HH_HELP_CONTEXT) {
        viewer->Requests.push_back((DWORD)request->Data);
    }
    if (request->HasFile) {
        viewer->LastFile.assign(request->File, strnlen(request->File, sizeof request->File));
    }
    LeaveCriticalSection(&viewer->Lock);
    return TRUE;
}

DWORD WINAPI HelpViewer::Run(void *self) {
    HelpViewer *viewer = (HelpViewer *)self;
    WNDCLASSA kind = {};
    kind.lpfnWndProc = Receive;
    kind.hInstance = GetModuleHandleA(NULL);
    kind.lpszClassName = HelpRecorderClass;
    RegisterClassA(&kind);
    HWND window = CreateWindowA(HelpRecorderClass, "Help recorder", 0, 0, 0, 10, 10, NULL, NULL,
                                kind.hInstance, NULL);
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)viewer);
    SetEvent(viewer->Ready);
    MSG message;
    while (window && GetMessageA(&message, NULL, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
    return 0;
}

// Windows looks for a library in the program's own folder first, so the
// recorder laid there is the viewer the program loads. Wine takes its
// builtin hhctrl.ocx before one on disk unless told otherwise for the
// program, which is told so while the recorder is in place (native first,
// so that a key left behind still finds the builtin viewer).
static const char RecorderProgram[] = "Software\\Wine\\AppDefaults\\KEYPAD32.EXE";
static const char RecorderOverrides[] = "Software\\Wine\\AppDefaults\\KEYPAD32.EXE\\DllOverrides";

static void PreferRecorder(int prefer) {
    if (!prefer) {
        RegDeleteKeyA(HKEY_CURRENT_USER, RecorderOverrides);
        RegDeleteKeyA(HKEY_CURRENT_USER, RecorderProgram); // only when nothing else is kept there
        return;
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, RecorderOverrides, 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
        static const char order[] = "native,builtin";
        RegSetValueExA(key, "hhctrl.ocx", 0, REG_SZ, (const BYTE *)order, sizeof order);
        RegCloseKey(key);
    }
}

// The recorder is built into helprecorder\ beside the test programs.
HelpViewer::HelpViewer() {
    InitializeCriticalSection(&Lock);
    Ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    Thread = CreateThread(NULL, 0, Run, this, 0, &ThreadId);
    WaitForSingleObject(Ready, 5000);
    char recorder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, recorder, sizeof recorder);
    char *name = strrchr(recorder, '\\');
    if (length > 0 && length < sizeof recorder && name) {
        lstrcpynA(name + 1, "helprecorder\\hhctrl.ocx",
                  (int)(recorder + sizeof recorder - name - 1));
        CopyFileA(recorder, HelpRecorderFile().c_str(), FALSE);
    }
    PreferRecorder(1);
}

HelpViewer::~HelpViewer() {
    DeleteFileA(HelpRecorderFile().c_str());
    PreferRecorder(0);
    PostThreadMessageA(ThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(Thread, 5000);
    CloseHandle(Thread);
    CloseHandle(Ready);
    DeleteCriticalSection(&Lock);
}

std::vector<DWORD> HelpViewer::Contexts() {
    EnterCriticalSection(&Lock);
    std::vector<DWORD> contexts = Requests;
    LeaveCriticalSection(&Lock);
    return contexts;
}

std::vector<UINT> HelpViewer::Commands() {
    EnterCriticalSection(&Lock);
    std::vector<UINT> commands = RequestCommands;
    LeaveCriticalSection(&Lock);
    return commands;
}

std::string HelpViewer::File() {
    EnterCriticalSection(&Lock);
    std::string file = LastFile;
    LeaveCriticalSection(&Lock);
    return file;
}

HWND WaitForWindow(const char *windowClass, const char *caption) {
    for (int i = 0; i < 250; i++) {
        HWND window = FindWindowA(windowClass, caption);
        if (window) {
            return window;
        }
        Sleep(20);
    }
    return NULL;
}

int WaitForWindowGone(HWND window) {
    for (int i = 0; i < 250 && IsWindow(window); i++) {
        Sleep(20);
    }
    return !IsWindow(window);
}

std::string ControlText(HWND dialog, int id) {
    char text[512] = "";
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, (LPARAM)text,
                        SMTO_ABORTIFHUNG, 5000, NULL);
    return text;
}

struct ControlSearch {
    int Id;
    HWND Found;
};

static BOOL CALLBACK MatchControl(HWND window, LPARAM lParam) {
    ControlSearch *search = (ControlSearch *)lParam;
    if (GetDlgCtrlID(window) == search->Id && !search->Found) {
        search->Found = window;
    }
    return TRUE;
}

HWND FindControl(HWND parent, int id) {
    ControlSearch search = {id, NULL};
    EnumChildWindows(parent, MatchControl, (LPARAM)&search);
    return search.Found;
}

static BOOL CALLBACK CollectChild(HWND window, LPARAM children) {
    ((std::vector<HWND> *)children)->push_back(window);
    return TRUE;
}

std::string ArrowsOntoStatics(HWND dialog) {
    std::vector<HWND> controls;
    EnumChildWindows(dialog, CollectChild, (LPARAM)&controls);
    std::string found;
    for (HWND control : controls) {
        LRESULT code = SendMessageA(control, WM_GETDLGCODE, 0, 0);
        // Controls that take the arrows for themselves, and pages, move no focus.
        if (!IsWindowVisible(control) || !IsWindowEnabled(control) ||
            (code & (DLGC_WANTARROWS | DLGC_STATIC)) ||
            (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)) {
            continue;
        }
        for (BOOL previous : {FALSE, TRUE}) {
            HWND next = GetNextDlgGroupItem(dialog, control, previous);
            if (next && (SendMessageA(next, WM_GETDLGCODE, 0, 0) & DLGC_STATIC)) {
                found += "from " + std::to_string(GetDlgCtrlID(control)) +
                         (previous ? " back to " : " on to ") +
                         std::to_string((short)GetDlgCtrlID(next)) + "\n";
            }
        }
    }
    return found;
}

// TCM_GETITEMRECT writes into the program's memory, so the rectangle is
// asked for there and read back.
static int TabItemRect(HWND strip, int index, RECT *rect) {
    DWORD processId = 0;
    GetWindowThreadProcessId(strip, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) {
        return 0;
    }
    void *remote = VirtualAllocEx(process, NULL, sizeof *rect, MEM_COMMIT, PAGE_READWRITE);
    DWORD_PTR ok = 0;
    if (remote) {
        SendMessageTimeoutA(strip, TCM_GETITEMRECT, index, (LPARAM)remote, SMTO_ABORTIFHUNG, 5000,
                            &ok);
        ok = ok && ReadProcessMemory(process, remote, rect, sizeof *rect, NULL);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return ok != 0;
}

int ClickTab(HWND strip, int index) {
    RECT rect;
    if (!TabItemRect(strip, index, &rect)) {
        return 0;
    }
    LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageA(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(strip, WM_LBUTTONUP, 0, at);
    return 1;
}

void PumpDialog(HWND dialog) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

static BOOL CALLBACK CollectDialogName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
    ((std::vector<LPSTR> *)names)->push_back(name); // dialogs are named by number
    return TRUE;
}

static INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

void ForEachDialog(HINSTANCE module, const std::function<void(UINT_PTR name, HWND dialog)> &visit) {
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, NULL, NULL,
                                 module, NULL);
    std::vector<LPSTR> names;
    EnumResourceNamesA(module, RT_DIALOG, CollectDialogName, (LONG_PTR)&names);
    for (LPSTR name : names) {
        HWND dialog = CreateDialogParamA(module, name, owner, InertDialogProc, 0);
        if (dialog)
            ShowWindow(dialog, SW_SHOWNA);
        visit((UINT_PTR)name, dialog);
        if (dialog)
            DestroyWindow(dialog);
    }
    DestroyWindow(owner);
}
