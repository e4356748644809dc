// Setup's and the uninstaller's hand on the list of programs that Windows
// starts at logon, through the program's own rule: `runentry <full path of
// KEYPAD32.EXE>` makes that path the program's only item; `runentry /remove
// <full path>` removes the items that name that path, those of the
// program's other installations staying. Other programs' items stay.
#include <string.h>

#include "app/app.h"
#include "app/run_entry.h"

int main(int argc, char **argv) {
    if (argc > 2 && strcmp(argv[1], "/remove") == 0) {
        UpdateRunEntry("", argv[2]);
    } else if (argc > 1) {
        UpdateRunEntry(argv[1], ProgramFileName);
    }
    return 0;
}
