// One row of the table that scripts/bench.sh prints at the end: a figure
// of ours against its reference measured in the same run, in one unit; the
// clock the benchmarks time with, and what they keep of their runs.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

// Seconds on the performance counter.
inline double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / frequency.QuadPart;
}

// The median of the samples, and the least: on a shared machine the mean
// is mostly the other programs' load, and the least run has the least of it.
inline double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}
inline double Least(const std::vector<double> &samples) {
    return *std::min_element(samples.begin(), samples.end());
}

inline void PrintFigure(const char *figure, double ours, double reference, const char *unit) {
    printf("FIGURE %s|%.3f|%.3f|%s\n", figure, ours, reference, unit);
}

// How many rounds a benchmark makes: KP_BENCH_ROUNDS when set (a busy
// machine needs more for a steady median), else its own number.
inline int BenchRounds(int usual) {
    const char *given = getenv("KP_BENCH_ROUNDS");
    int rounds = given ? atoi(given) : 0;
    return rounds > 0 ? rounds : usual;
}
