// Shared by the fax tests: the mail library's store and the settings file
// put back after each test, and recipient blocks made as the library makes
// them. Dialogs a call opens are answered with the harness's DialogAnswer.
#pragma once
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "program_harness.h"

// One recipient as the tests describe it.
struct Recipient {
    std::string Name;
    std::string Address;
    std::string EntryId;
};
inline bool operator==(const Recipient &a, const Recipient &b) {
    return a.Name == b.Name && a.Address == b.Address && a.EntryId == b.EntryId;
}
inline void PrintTo(const Recipient &r, std::ostream *out) {
    *out << r.Name << " <" << r.Address << "> [" << r.EntryId << "]";
}

// Keeps TELVEX.INI, SYS.INI and the recipient files of the product
// directory and puts them back; starts every test with no fax state.
class FaxStateGuard {
  public:
    FaxStateGuard();
    ~FaxStateGuard();

  private:
    FileBackup Store{ProductFile("TELVEX.INI")};
    FileBackup Settings{ProductFile("SYS.INI")};
    FileBackup Book{ProductFile("ADDRESS.VCF")};
    std::vector<FileBackup *> RecipientFiles;
};

// Forgets everything the fax side holds: blocks, lists, names, binding.
void ResetFaxState();
// A store with the given profiles ("name=services" lines) and library keys.
void WriteStore(const std::vector<std::string> &profiles, const std::string &extra = "");
// Gives entry n (1..28) these records in two fresh movable blocks.
void FillEntry(int number, const std::vector<Recipient> &records, int modified = 1);
// The records a link holds now.
std::vector<Recipient> LinkRecipients(const RecipientLink &link);
// Attaches entry n and reads its records, unlocking again.
std::vector<Recipient> EntryRecipients(int number);
// Frees entry n's blocks and empties it.
void EmptyEntry(int number);

// Selects every address-book line that contains one of the texts, then presses OK.
void PickLines(HWND dialog, const std::vector<std::string> &texts);
