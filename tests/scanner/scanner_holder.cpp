// Helper process of ScannerTests: binds the driver given on the command line
// and opens the device, so the tests see it held by another process.
//   scanner_holder <driver path> keep   hold until the release event, then close
//   scanner_holder <driver path> exit   end without closing (a holder that died)
#include "abi/driver_abi.h"
#include <string.h>

int main(int argc, char **argv) {
    if (argc < 3)
        return 3;
    HMODULE library = LoadLibraryA(argv[1]);
    DriverEntryProc entry =
        library ? (DriverEntryProc)(void *)GetProcAddress(library, MAKEINTRESOURCEA(2)) : NULL;
    if (!entry)
        return 4;
    DeviceInfoRecord info;
    DriverRequest request = {};
    request.Command = DrvBind;
    request.Buffer = (ULONG_PTR)&info;
    entry(&request);
    request.Command = DrvOpen;
    request.Buffer = 0;
    if (request.Status != 0 || (entry(&request), request.Status != 0))
        return 5;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "ScannerTestsHolderReady");
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "ScannerTestsHolderRelease");
    if (!ready || !release)
        return 6;
    SetEvent(ready);
    if (strcmp(argv[2], "exit") == 0)
        ExitProcess(0);
    WaitForSingleObject(release, 60000);
    request.Command = DrvClose;
    entry(&request);
    return 0;
}
