// Marks between the start-up steps. The start-up benchmark builds the program
// a second time with STARTUP_MARKS defined (bench/startup_probe.cpp times
// each mark); in the program itself they are nothing.
#pragma once

#ifdef STARTUP_MARKS
void StartupMark(const char *step);
#else
inline void StartupMark(const char *) {}
#endif
