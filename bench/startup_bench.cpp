// Start-up of KEYPAD32.EXE to all 26 keys registered, beside a program that
// opens one window; and where the time goes: StartupProbe.exe, the program
// built once more with a mark between its start-up steps, is started the same
// way and each step's time is taken from its marks.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_figure.h"
#include "device_state.h"
#include "program_harness.h"
#include "res/resource.h"

namespace {

// "median ms (fastest ms)": on a busy machine the fastest run shows the cost
// with the least of other programs' load in it.
std::string Times(const std::vector<double> &samples) {
    char text[64];
    snprintf(text, sizeof text, "%7.2f ms (%7.2f ms)", Median(samples), Least(samples));
    return text;
}

// 1 when every panel key notifies `window`. Read from the device's shared
// state: asking the device program for its log at each look would take the
// CPU from the program being timed.
bool KeysRegisteredTo(HWND window) {
    static DeviceLink link;
    if (!OpenDeviceLink(&link)) {
        return false;
    }
    for (const DeviceNotification &key : link.State->Keys) {
        if (!key.Active || key.Window != StoredWindow(window)) {
            return false;
        }
    }
    return true;
}

// What one start took, in ms from CreateProcess on; -1 when the program did
// not come up.
struct StartTimes {
    double Up;        // its window found (KEYPAD32 and its probe build: all keys registered too)
    double Answering; // its thread answered a message sent to that window: the window is made
                      // and the program is in its message loop
};

// Starts a program and waits for its window (and, for KEYPAD32 and its probe
// build, for its last key registration), then for the program to answer a
// message, and closes it. *started is when CreateProcess was called.
StartTimes StartAndWait(const std::string &commandLine, const char *windowClass, bool waitForKeys,
                        double *started = nullptr) {
    StartTimes times = {-1, -1};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    double start = Now();
    if (started) {
        *started = start;
    }
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return times;
    }
    HWND window = NULL;
    for (;;) {
        window = FindWindowA(windowClass, NULL);
        if (window && (!waitForKeys || KeysRegisteredTo(window))) {
            times.Up = 1000 * (Now() - start);
            break;
        }
        // A program that ended or never came up gives no figure.
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0 || Now() - start > 10) {
            printf("%s did not come up\n", commandLine.c_str());
            TerminateProcess(process.hProcess, 1);
            break;
        }
    }
    if (window) {
        // A window is found as soon as it exists, while the call that makes
        // it may still be at work; a sent message is answered only when the
        // program takes messages.
        DWORD_PTR result;
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) {
            times.Answering = 1000 * (Now() - start);
        }
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return times;
}

struct Step {
    std::string What;
    std::vector<double> Times; // ms, one a run
};

// Starts the probe build once and adds its steps' times to `steps`: from
// CreateProcess to the program's entry, then from mark to mark.
void ProbeOnce(const std::string &probe, std::vector<Step> *steps) {
    char folder[MAX_PATH], marks[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "SUB", 0, marks);
    DeleteFileA(marks);
    double started = 0;
    StartAndWait(probe + " " + marks, "Fax Configuration", true, &started);
    FILE *file = fopen(marks, "r");
    double at, before = started;
    char text[256];
    for (size_t i = 0; file && fscanf(file, "STEP %lf %255[^\n]\n", &at, text) == 2; i++) {
        if (steps->size() <= i) {
            steps->push_back(
                {i == 0 ? "process made, its DLLs loaded, program entered" : text, {}});
        }
        (*steps)[i].Times.push_back(1000 * (at - before));
        before = at;
    }
    if (file) {
        fclose(file);
    }
    DeleteFileA(marks);
}

} // namespace

int main() {
    const int Runs = BenchRounds(11);
    FileBackup settings(ProductFile("SYS.INI"));
    WriteFileText(ProductFile("SYS.INI"), "[Varnel]\r\n");
    // The programs start from the same folder: where a program lies changes
    // how long Wine takes to start it.
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string folder(self, strrchr(self, '\\') + 1);
    std::vector<std::string> copies;
    auto beside = [&](const char *name) {
        copies.push_back(ProductFile((std::string("EXE32\\") + name).c_str()));
        CopyFileA((folder + name).c_str(), copies.back().c_str(), FALSE);
        return copies.back();
    };
    std::string keypad = ProductFile("EXE32\\KEYPAD32.EXE");
    std::string minimal = beside("MinimalWindow.exe");
    std::string withControls = beside("MinimalWindowCommonControls.exe");
    std::string probe = beside("StartupProbe.exe");
    std::vector<double> keypadStart, keypadAnswering, minimalStart, minimalAnswering,
        withControlsStart;
    auto take = [](StartTimes times, std::vector<double> *up, std::vector<double> *answering) {
        up->push_back(times.Up);
        if (answering) {
            answering->push_back(times.Answering);
        }
    };
    std::vector<Step> steps;
    // Interleaved, so that all see the same load on the machine.
    for (int i = 0; i < Runs; i++) {
        Device("log clear");
        take(StartAndWait(keypad, "Fax Configuration", true), &keypadStart, &keypadAnswering);
        take(StartAndWait(minimal, "Minimal Window", false), &minimalStart, &minimalAnswering);
        take(StartAndWait(withControls, "Minimal Window", false), &withControlsStart, nullptr);
        Device("log clear");
        ProbeOnce(probe, &steps);
    }
    for (const std::string &copy : copies) {
        DeleteFileA(copy.c_str());
    }
    printf("median (fastest) of %d starts of each, interleaved\n", Runs);
    auto row = [](const char *what, const std::vector<double> &samples) {
        printf("  %-52s %s\n", what, Times(samples).c_str());
    };
    row("KEYPAD32: all keys registered", keypadStart);
    row("KEYPAD32: answering in its message loop", keypadAnswering);
    row("one-window program: window found", minimalStart);
    row("one-window program: answering", minimalAnswering);
    row("the same with the common controls: found", withControlsStart);
    // Each round's programs ran one after the other: the ratio within a round
    // is the one that load on the machine, which comes and goes, spoils least.
    std::vector<double> ratios;
    for (int i = 0; i < Runs; i++) {
        if (keypadStart[i] > 0 && minimalStart[i] > 0) {
            ratios.push_back(keypadStart[i] / minimalStart[i]);
        }
    }
    if (!ratios.empty()) {
        printf("  KEYPAD32 / one-window program, round by round: median %.2f (lowest %.2f)\n",
               Median(ratios), Least(ratios));
    }
    printf("where the time goes: the program built with a mark between its start-up steps\n");
    for (const Step &step : steps) {
        printf("  %s  %s\n", Times(step.Times).c_str(), step.What.c_str());
    }
    PrintFigure("start-up to keys registered vs a one-window program (median)", Median(keypadStart),
                Median(minimalStart), "ms");
    QuitDevice();
    return 0;
}
