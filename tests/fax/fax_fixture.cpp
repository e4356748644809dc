#include "fax_fixture.h"

#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "app/settings.h"
#include "panel/panel_state.h"
#include "res/resource.h"
#include "telvex_ids.h"

FaxStateGuard::FaxStateGuard() {
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        for (const char *kind : {"DES", "INF"}) {
            char name[16];
            snprintf(name, sizeof name, "%d.%s", number, kind);
            RecipientFiles.push_back(new FileBackup(ProductFile(name)));
        }
    }
    ResetFaxState();
}

FaxStateGuard::~FaxStateGuard() {
    ResetFaxState();
    for (FileBackup *file : RecipientFiles) {
        delete file;
    }
}

void ResetFaxState() {
    for (int number = 1; number <= SpeedDialEntryCount; number++) {
        EmptyEntry(number);
        SpeedDialTable[number - 1].Label[0] = 0;
    }
    EditLink = RecipientLink();
    UnbindTelvex();
    FaxProfileName[0] = MailProfileName[0] = SettingsProfileName[0] = 0;
    FaxServiceStarted = 0;
    LoadSettings();
    FaxServiceEnabled = 1;
    Destination = 0;
    if (!AppInstance) {
        AppInstance = GetModuleHandleA(NULL);
        LoadStringA(AppInstance, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
    }
}

void WriteStore(const std::vector<std::string> &profiles, const std::string &extra) {
    std::string text = "[Telvex]\r\nAddressBook=ADDRESS.VCF\r\n" + extra;
    for (const std::string &profile : profiles) {
        size_t equals = profile.rfind('=');
        text += "[Profile:" + profile.substr(0, equals) +
                "]\r\nServices=" + profile.substr(equals + 1) +
                "\r\nFaxGateway=fax.test.example\r\n";
    }
    WriteFileText(ProductFile("TELVEX.INI"), text);
}

void FillEntry(int number, const std::vector<Recipient> &records, int modified) {
    EmptyEntry(number);
    std::vector<RecipientRecord> described(records.size());
    for (size_t i = 0; i < records.size(); i++) {
        described[i] = {0,
                        1,
                        (char *)records[i].Name.c_str(),
                        (char *)records[i].Address.c_str(),
                        (DWORD)records[i].EntryId.size(),
                        (BYTE *)records[i].EntryId.data()};
    }
    DWORD count = (DWORD)records.size();
    DWORD size = LayOutRecipientStrings(described.data(), count, nullptr);
    SpeedDialEntry *entry = &SpeedDialTable[number - 1];
    entry->RecipientBlock = GlobalAlloc(GMEM_MOVEABLE, count * sizeof(RecipientRecord));
    entry->StringBlock = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(entry->RecipientBlock), described.data(), count * sizeof(RecipientRecord));
    LayOutRecipientStrings(described.data(), count, (BYTE *)GlobalLock(entry->StringBlock));
    GlobalUnlock(entry->RecipientBlock);
    GlobalUnlock(entry->StringBlock);
    entry->RecipientCount = count;
    entry->Modified = modified;
}

std::vector<Recipient> LinkRecipients(const RecipientLink &link) {
    std::vector<Recipient> records;
    for (DWORD i = 0; i < link.RecipientCount; i++) {
        const RecipientRecord &record = link.Recipients[i];
        records.push_back({record.Name, record.Address,
                           std::string((const char *)record.EntryId, record.EntryIdSize)});
    }
    return records;
}

std::vector<Recipient> EntryRecipients(int number) {
    SpeedDialEntry *entry = &SpeedDialTable[number - 1];
    if (!entry->RecipientCount) {
        return {};
    }
    AttachSpeedDialEntry(entry);
    std::vector<Recipient> records = LinkRecipients(EditLink);
    GlobalUnlock(entry->RecipientBlock);
    GlobalUnlock(entry->StringBlock);
    return records;
}

void EmptyEntry(int number) {
    SpeedDialEntry *entry = &SpeedDialTable[number - 1];
    ReleaseBlock(&entry->RecipientBlock);
    ReleaseBlock(&entry->StringBlock);
    entry->RecipientCount = 0;
    entry->Modified = 0;
}

void PickLines(HWND dialog, const std::vector<std::string> &texts) {
    HWND list = GetDlgItem(dialog, IDC_ADDRESS_LIST);
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char line[512] = "";
        SendMessageA(list, LB_GETTEXT, i, (LPARAM)line);
        for (const std::string &text : texts) {
            if (strstr(line, text.c_str())) {
                SendMessageA(list, LB_SETSEL, TRUE, i);
            }
        }
    }
    PressButton(dialog, IDOK);
}
