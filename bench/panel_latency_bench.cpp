// Key press to LCD latency through the running KEYPAD32.EXE, beside the
// device's own LCD round trip with no program in between.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_figure.h"
#include "program_harness.h"
#include "res/resource.h"

namespace {

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// Prints the median and 99th percentile of the samples; returns the median.
double Report(const char *what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    printf("%-34s median %7.2f ms   99th percentile %7.2f ms   (%zu samples)\n", what,
           samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.size());
    return samples[samples.size() / 2];
}

// Sends a command, then polls the status line until it shows the text; -1
// when it does not within two seconds.
double TimeUntilStatus(const std::string &command, const std::string &expected) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    Device(command);
    for (;;) {
        bool shown = LcdStatus() == expected;
        QueryPerformanceCounter(&end);
        double elapsed = Milliseconds(start, end);
        if (shown) {
            return elapsed;
        }
        if (elapsed > 2000) {
            printf("'%s' never showed %s (the LCD shows %s)\n", command.c_str(), expected.c_str(),
                   LcdStatus().c_str());
            return -1;
        }
    }
}

std::string StatusWithLevel(int level) {
    char line[20];
    snprintf(line, sizeof line, "LT TXT DFT %03d F", level);
    return line;
}

} // namespace

int main(int argc, char **argv) {
    const int presses = argc > 1 ? atoi(argv[1]) : 1000;
    RunningProgram keypad = {};
    FileBackup settings(ProductFile("SYS.INI"));
    WriteFileText(ProductFile("SYS.INI"), "[Varnel]\r\n");
    Device("log clear");
    if (!StartProgram(&keypad)) {
        printf("KEYPAD32.EXE did not start\n");
        return 1;
    }
    WaitForLcd(0, StatusWithLevel(50));
    std::vector<double> keyToLcd, deviceOnly;
    int level = 50;
    // A lost press gives no sample; a device that is gone ends the run.
    for (int i = 0; i < presses && LcdStatus() != "(no lcd)"; i++) {
        bool up = i % 2 == 0;
        level += up ? 5 : -5;
        keyToLcd.push_back(TimeUntilStatus(up ? "press up" : "press down", StatusWithLevel(level)));
    }
    for (int i = 0; i < presses && LcdStatus() != "(no lcd)"; i++) {
        std::string text = StatusWithLevel(i % 2 ? 50 : 55);
        deviceOnly.push_back(TimeUntilStatus("show 0 " + text, text));
    }
    if (keyToLcd.size() < (size_t)presses || deviceOnly.size() < (size_t)presses) {
        printf("the virtual scanner went away during the run\n");
        CloseProgram(&keypad);
        return 1;
    }
    ExitProgram(&keypad);
    CloseProgram(&keypad);
    double keyMedian = Report("key press to LCD (KEYPAD32)", keyToLcd);
    double deviceMedian = Report("LCD text round trip (device only)", deviceOnly);
    PrintFigure("key press to LCD vs the device's own LCD round trip (median)", keyMedian,
                deviceMedian, "ms");

    QuitDevice();
    return 0;
}
