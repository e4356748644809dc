// Linked into every test program: a crash ends the program at once with
// the exception and its address on its output, so the test fails in
// seconds instead of waiting for a debugger.
#include <windows.h>

#include <stdio.h>

static LONG WINAPI ReportCrash(EXCEPTION_POINTERS *pointers) {
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    fprintf(stderr, "crash: exception %08lx at %p\n", (unsigned long)record->ExceptionCode,
            record->ExceptionAddress);
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

static struct CrashReportRecord {
    CrashReportRecord() {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        SetUnhandledExceptionFilter(ReportCrash);
    }
} CrashReport;
