// The marks of the probe build of the program (StartupProbe.exe MARKS-FILE,
// the program's own sources built with STARTUP_MARKS): each mark appends
// "STEP <seconds on the performance counter> <step>" to the file named on
// the command line, which StartupBench reads.
#include <windows.h>
#include <stdio.h>

#include "app/startup_marks.h"
#include "bench_figure.h"

void StartupMark(const char *step) {
    double now = Now();
    static FILE *marks = nullptr;
    if (!marks) {
        // The command line: the program's name, quoted or not, then the file.
        const char *line = GetCommandLineA();
        const char *end = *line == '"' ? strchr(line + 1, '"') : strchr(line, ' ');
        const char *file = end ? end + 1 : "";
        while (*file == ' ') {
            file++;
        }
        marks = fopen(file, "a");
    }
    if (marks) {
        fprintf(marks, "STEP %.6f %s\n", now, step);
        fflush(marks);
    }
}
