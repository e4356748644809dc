// Replays the inputs that fuzzing saved for one target (fuzz/crashes/<target>/,
// built into the test program by keypad_fuzz_replay) through the exercise the
// fuzz target runs, on the product code as it ships: each must be handled
// cleanly. Fails the running test for each one that is not.
#pragma once
#include "fuzz/exercise.h"

// Returns how many inputs were replayed.
int ReplaySavedInputs(const char *target, FuzzExercise exercise);
