// The libFuzzer entry of one fuzz target: KP_FUZZ_EXERCISE names the
// exercise it runs, and a fault the exercise reports ends the run as a
// finding. With KP_FUZZ_KEEP naming a folder, outputs the exercise hands on
// are written there for checks by other programs.
#include "fuzz/exercise.h"

#include <stdio.h>
#include <stdlib.h>

static unsigned Runs; // inputs run so far: numbers the kept outputs of each

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Runs++;
    const char *fault = KP_FUZZ_EXERCISE(data, (DWORD)size);
    if (fault) {
        fprintf(stderr, "fuzz check failed: %s\n", fault);
        abort();
    }
    return 0;
}

void KeepFuzzOutput(const char *suffix, const void *bytes, DWORD size) {
    const char *folder = getenv("KP_FUZZ_KEEP");
    char path[4096];
    if (!folder || snprintf(path, sizeof path, "%s/%08u%s", folder, Runs, suffix) >= 4096) {
        return;
    }
    FILE *file = fopen(path, "wb");
    if (file) {
        fwrite(bytes, 1, size, file);
        fclose(file);
    }
}
