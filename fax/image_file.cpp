// The image-file library accugnt5.dll: bound for a fax job, by ordinal.
#include "fax/fax_job.h"

#include "app/settings.h"

WriteImageFileProc WriteImageFile;
SetImageOptionProc SetImageOption;
static HMODULE ImageLibrary; // accugnt5.dll while a job holds it

int BindImageFile() {
    if (!ImageLibrary && !LoadProductLibrary(&ImageLibrary, "accugnt5.dll")) {
        ImageLibrary = NULL;
        return 0;
    }
    WriteImageFile = (WriteImageFileProc)(void (*)())GetProcAddress(
        ImageLibrary, MAKEINTRESOURCEA(WriteImageFileOrdinal));
    SetImageOption = (SetImageOptionProc)(void (*)())GetProcAddress(
        ImageLibrary, MAKEINTRESOURCEA(SetImageOptionOrdinal));
    if (WriteImageFile && SetImageOption) {
        return 1;
    }
    UnbindImageFile();
    return 0;
}

void UnbindImageFile() {
    if (ImageLibrary) {
        FreeLibrary(ImageLibrary);
    }
    ImageLibrary = NULL;
    WriteImageFile = NULL;
    SetImageOption = NULL;
}
