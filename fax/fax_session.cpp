// The fax job's mail session: its recipients, the transport lock, the logon
// with the job's fax settings, the hand-over of the pages and the logoff.
#include "fax/fax_job.h"

#include <stdio.h>

#include "app/settings.h"
#include "fax/dialing.h"
#include "fax/profiles.h"
#include "fax/speed_dial.h"
#include "fax/telvex.h"
#include "panel/delivery_outcome.h"
#include "panel/panel.h"
#include "panel/panel_state.h"

HGLOBAL PageFileList;
DWORD PageFileListSize;

static HGLOBAL PageNameBlock;                 // the attachment names of the message, packed
static char JobAddress[DialedNumberSize + 4]; // "FAX:" and the typed number, dialing rules applied
static int JobUsesKey;                        // the job sends to a speed-dial key's recipients
ProfileChoice JobChoice;
static const WORD JobSettingIds[3] = {SettingPaperSize, SettingResolution, SettingJobFlag};

HGLOBAL DuplicateBlock(HGLOBAL block) {
    SIZE_T size = block ? GlobalSize(block) : 0;
    const void *from = size ? GlobalLock(block) : NULL;
    HGLOBAL copy = from ? GlobalAlloc(GMEM_MOVEABLE, size) : NULL;
    void *to = copy ? GlobalLock(copy) : NULL;
    if (to) {
        CopyMemory(to, from, size);
        GlobalUnlock(copy);
    } else {
        ReleaseBlock(&copy);
    }
    if (from) {
        GlobalUnlock(block);
    }
    return copy;
}

// The job's recipient blocks are always its own: copies of a key's blocks or
// the blocks AddRecipient made. Both are held locked once.
static void ReleaseJobRecipients() {
    ReleaseBlock(&JobLink.RecipientBlock);
    ReleaseBlock(&JobLink.StringBlock);
    JobLink.Recipients = NULL;
    JobLink.Strings = NULL;
    JobLink.RecipientCount = 0;
}

// Takes a copy of the key's recipients, so that the configuration page may
// change or release the key's own blocks while the job sends: 0, or the
// status when the copy cannot be had or its records do not fit their strings.
static SHORT TakeKeyRecipients(const SpeedDialEntry *entry, SHORT unusable) {
    JobLink.RecipientCount = entry->RecipientCount;
    JobLink.RecipientBlock = DuplicateBlock(entry->RecipientBlock);
    JobLink.StringBlock = DuplicateBlock(entry->StringBlock);
    if (!JobLink.RecipientBlock || !JobLink.StringBlock) {
        return FaxNoMemory; // the caller releases what was copied
    }
    // Both blocks are locked from here on, whatever the result.
    return TelvexBinding.BuildRecipientLink(&JobLink) == TelvexOk ? 0 : unusable;
}

// A recipient address is its type, a colon and the address proper: 0, or the
// status when the number cannot be dialled whole or the record not be made.
static SHORT AddTypedRecipient() {
    char number[DialedNumberSize];
    lstrcpynA(number, TypedNumber, sizeof number);
    if (!ApplyDialingRules(number, sizeof number, &DialingInfo)) {
        return FaxNoNumber;
    }
    snprintf(JobAddress, sizeof JobAddress, "FAX:%s", number);
    static char Name[] = "Dear Recipient"; // the display name of a typed number
    RecipientRecord record = {0, 1, Name, JobAddress, 0, NULL};
    JobLink.RecipientCount = 0;
    JobLink.Recipients = NULL;
    return TelvexBinding.AddRecipient(&record, &JobLink) == TelvexOk ? 0 : FaxNoMemory;
}

// The recipients of the job: 0, or the status that refuses it.
static SHORT TakeRecipients(int email) {
    SHORT noRecipient = email ? FaxNoAddress : FaxNoNumber;
    if (!JobUsesKey) {
        return email || TypedLength == 0 ? noRecipient : AddTypedRecipient();
    }
    const SpeedDialEntry *entry = &SpeedDialTable[SpeedDialNumber(email, SpeedDialKey) - 1];
    // The speed-dial page changes the entry under the same lock.
    LockProfileChoice();
    SHORT refused = entry->RecipientCount ? TakeKeyRecipients(entry, noRecipient) : noRecipient;
    UnlockProfileChoice();
    return refused;
}

void TakeJobChoice() {
    TakeProfileChoice(&JobChoice);
}

int OpenFaxSession() {
    ZeroMemory(&JobLink, sizeof JobLink);
    TakeJobChoice();
    JobUsesKey = SpeedDialKey != 0;
    int email = JobChoice.Destination != 0;
    int locked = 0, loggedOn = 0;
    SHORT status = TakeRecipients(email);
    if (status == 0) {
        locked = TelvexBinding.TelvexLockUnlock(1) != 0;
        status = locked ? 0 : (SHORT)FaxInUse;
    }
    if (status == 0) {
        const char *profile = email ? JobChoice.MailProfile : JobChoice.FaxProfile;
        loggedOn = TelvexBinding.InitialMAPIandLogon(0, profile, &JobLink) == TelvexOk;
        status = loggedOn ? 0 : (SHORT)FaxLogonFailed;
    }
    if (status == 0) {
        // Only a session that is open changes the profile, so a refused logon
        // leaves it exactly as it was: the library can set a setting but not
        // take one away that had no value.
        if (!email) {
            ApplyJobFaxSettings();
        }
        PageFileList = GlobalAlloc(GMEM_MOVEABLE, 0);
        PageFileListSize = 0;
        status = PageFileList ? 0 : (SHORT)FaxNoMemory;
    }
    if (status == 0) {
        JobLink.Reserved[0] = JobLink.Reserved[1] = 0;
        return 1;
    }
    // One way back for every refusal: what was taken, in the reverse order.
    if (loggedOn) {
        TelvexBinding.FreeAndLogoff(0, JobLink.Session);
    }
    if (locked) {
        TelvexBinding.TelvexLockUnlock(0);
    }
    ReleaseJobRecipients();
    FaxJobStatus = status;
    return 0;
}

void CloseFaxSession() {
    TelvexBinding.FreeAndLogoff(0, JobLink.Session);
    TelvexBinding.TelvexLockUnlock(0);
    ReleaseBlock(&PageFileList);
    PageFileListSize = 0;
    ReleaseBlock(&PageNameBlock);
    JobLink.PagePaths = JobLink.PageNames = NULL;
    ReleaseJobRecipients();
}

void ApplyJobFaxSettings() {
    WORD values[3] = {PaperSize, (WORD)(FaxResolution + 1), 0};
    for (int i = 0; i < 3; i++) {
        SettingRequest request = {JobSettingIds[i], &values[i]};
        TelvexBinding.RegistrySetSetting(JobChoice.SettingsProfile, &request);
    }
    WriteIntSetting("Fax Associated Info", "Mode", "VARNEL.INI", FaxResolution);
    WriteIntSetting("Fax Associated Info", "Map", "VARNEL.INI", 1);
    WriteIntSetting("Fax Associated Info", "Paper Size", "VARNEL.INI", PaperSize);
}

// The names of all attachments, packed; JobID is left one past the last number used.
static void NameAttachments(DWORD count, int format) {
    PageNameBlock = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)count * AttachmentNameSize);
    char *names = PageNameBlock ? (char *)GlobalLock(PageNameBlock) : NULL;
    JobLink.PageNames = names;
    char *name = names;
    for (DWORD i = 0; i < count; i++) {
        if (name) {
            FormatAttachmentName(name, AttachmentNameSize, JobID, JobChoice.Destination, format);
            name += lstrlenA(name) + 1;
        }
        JobID++;
    }
}

int SendPages() {
    ReleasePageBuffer();
    // One document goes in place of the page files, named as its first page would be.
    if (JobChoice.AsDocument && !MakeJobDocument()) {
        return 0;
    }
    JobLink.PageCount = JobChoice.AsDocument ? 1 : PagesScanned;
    // The job is known by its first attachment's number.
    DWORD job = JobID;
    NameAttachments(JobLink.PageCount, JobChoice.AsDocument ? DocumentFormat : ImageFormat);
    JobLink.PagePaths =
        JobChoice.AsDocument ? JobDocumentPath : (const char *)GlobalLock(PageFileList);
    ShowPanelText(LcdMessageLine, "Translating...");
    FollowJobMessage(job);
    int sent = TelvexBinding.SendTelvex(0, &JobLink) == TelvexOk;
    if (!JobChoice.AsDocument) {
        GlobalUnlock(PageFileList);
    }
    if (PageNameBlock) {
        GlobalUnlock(PageNameBlock);
    }
    if (sent) {
        NoteJobMessageQueued(job);
    } else {
        FaxJobStatus = FaxSendFailed;
    }
    return sent;
}
