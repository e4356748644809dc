// One row of the table that scripts/bench.sh prints at the end: a figure
// of ours against its reference measured in the same run, in one unit.
#pragma once
#include <stdio.h>

inline void PrintFigure(const char *figure, double ours, double reference, const char *unit) {
    printf("FIGURE %s|%.3f|%.3f|%s\n", figure, ours, reference, unit);
}
