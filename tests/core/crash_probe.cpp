// Faults on purpose: the harness must turn a crash into a failed test with
// the crash's address, at once (see crash_report.cpp).
#include <gtest/gtest.h>

static volatile int *Nowhere = nullptr;

TEST(CrashProbe, WritingThroughNullEndsTheProgram) {
    *Nowhere = 1;
    FAIL() << "the write through a null pointer did not fault";
}
