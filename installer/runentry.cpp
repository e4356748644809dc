// Setup's and the uninstaller's hand on the list of programs that Windows
// starts at logon, through the program's own rule: `runentry <full path of
// KEYPAD32.EXE>` makes that path the program's only item, `runentry` alone
// removes every item that names the program. Other programs' items stay.
#include "app/app.h"
#include "app/run_entry.h"

int main(int argc, char **argv) {
    UpdateRunEntry(argc > 1 ? argv[1] : "", ProgramFileName);
    return 0;
}
