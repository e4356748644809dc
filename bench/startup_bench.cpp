// Start-up of KEYPAD32.EXE to all 26 keys registered, beside a program that
// opens one window; and where the time goes: StartupProbe.exe, the program
// built once more with a mark between its start-up steps, is started the same
// way and each step's time is taken from its marks.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "abi/driver_abi.h"
#include "bench_figure.h"
#include "program_harness.h"
#include "res/resource.h"

namespace {

const int Runs = 11;

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// "median ms (fastest ms)": on a busy machine the fastest run shows the cost
// with the least of other programs' load in it.
std::string Times(const std::vector<double> &samples) {
    char text[64];
    snprintf(text, sizeof text, "%7.2f ms (%7.2f ms)", Median(samples),
             *std::min_element(samples.begin(), samples.end()));
    return text;
}

// Starts a program and waits for its window (and, for KEYPAD32 and its probe
// build, for its last key registration), then closes it; the milliseconds
// from CreateProcess on, -1 when it did not come up. *started is when
// CreateProcess was called.
double StartAndWait(const std::string &commandLine, const char *windowClass, bool waitForKeys,
                    double *started = nullptr) {
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
        return -1;
    }
    HWND window = NULL;
    double elapsed = -1;
    for (;;) {
        window = FindWindowA(windowClass, NULL);
        if (window && (!waitForKeys || CountRequests(RequestLog(), DrvRegisterKey, 255) >= 26)) {
            elapsed = 1000 * (Now() - start);
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
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
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
    std::vector<double> keypadStart, minimalStart, withControlsStart;
    std::vector<Step> steps;
    // Interleaved, so that all see the same load on the machine.
    for (int i = 0; i < Runs; i++) {
        Device("log clear");
        keypadStart.push_back(StartAndWait(keypad, "Fax Configuration", true));
        minimalStart.push_back(StartAndWait(minimal, "Minimal Window", false));
        withControlsStart.push_back(StartAndWait(withControls, "Minimal Window", false));
        Device("log clear");
        ProbeOnce(probe, &steps);
    }
    for (const std::string &copy : copies) {
        DeleteFileA(copy.c_str());
    }
    printf("median (fastest) of %d starts of each, interleaved\n", Runs);
    printf("  start-up to keys registered         %s\n", Times(keypadStart).c_str());
    printf("  start-up of a one-window program    %s\n", Times(minimalStart).c_str());
    printf("  the same with the common controls   %s (KEYPAD32 loads them at start)\n",
           Times(withControlsStart).c_str());
    printf("where the time goes: the program built with a mark between its start-up steps\n");
    for (const Step &step : steps) {
        printf("  %s  %s\n", Times(step.Times).c_str(), step.What.c_str());
    }
    double keypadMedian = Median(keypadStart);
    double minimalMedian = Median(minimalStart);
    PrintFigure("start-up to keys registered vs a one-window program (median)", keypadMedian,
                minimalMedian, "ms");
    QuitDevice();
    return 0;
}
