#include "smtp_delivery.h"

#include <winsock2.h>

#include <stdio.h>
#include <string.h>

#include "delivery_notice.h"
#include "outbox_filing.h"
#include "outbox_queue.h"
#include "smtp_session.h"
#include "telvex_ids.h"

enum : int { OutboxCount = 16, SessionMessages = 100 };
static const ULONGLONG GiveUpMs = 5ULL * 24 * 3600 * 1000; // as mail servers do

// What the agent keeps of an outbox from one pass to the next.
struct OutboxRun {
    char Folder[MAX_PATH];
    QueueState *Unsaved; // the state queue.ini could not take: nothing is sent meanwhile
    DWORD Halts;         // passes in a row it still could not
};

// A message of the outbox being delivered. Its envelope is read when the
// pass first needs it (Known), most while the server takes the message
// before.
struct PassMessage {
    QueuedMessage File;
    int Read;        // its envelope read: the three below hold
    int Kind;        // what LoadEnvelope said
    const char *Why; // why its envelope cannot be used
    Envelope Envelope;
    int Profile; // its entry in Profiles, -1 for none
    int Done;    // tried or filed in this pass
    int Gone;    // filed: no longer in the outbox
};

// A profile the outbox's messages name.
struct PassProfile {
    char Name[StoreNameSize];
    MailProfile Mail;
    int HasServer;
};

static OutboxRun Runs[OutboxCount];
static int RunCount;
static PassMessage Messages[QueueSize];
static PassProfile Profiles[StateProfiles];
static int MessageCount, ProfileCount;
static const char *PassFolder; // the outbox Messages are of
static QueueState *State;      // the outbox's state as this pass knows it
static ULONGLONG AgentStarted; // no pause lasts past this and the longest pause

static ULONGLONG Due(ULONGLONG next) {
    ULONGLONG latest = AgentStarted + LongestPause();
    return next < latest ? next : latest;
}

static void TakeFiled();

// The attempt as a line of the outbox's log, after the line of the message
// being filed beside, so that the log keeps the order of events.
static void Log(OutboxRun *run, const char *message, const MailProfile *mail,
                const DeliveryResult *result, DWORD pause) {
    TakeFiled();
    LogAttempt(run->Folder, message, mail, result, pause);
}

// The outbox stops here, its state kept by the agent until queue.ini takes
// it: said once, where it can be said.
static void Halt(OutboxRun *run, const char *message, const MailProfile *mail) {
    DWORD error = GetLastError();
    run->Unsaved = NewQueueState();
    if (run->Unsaved) {
        *run->Unsaved = *State;
    }
    run->Halts = 1;
    DeliveryResult result = {};
    char why[ReplySize - 160];
    ErrorText(error, why, sizeof why);
    result.Outcome = Stopped;
    snprintf(result.Reply, ReplySize,
             "its state cannot be written (error %lu: %s); nothing more is sent from this outbox "
             "until it can",
             (unsigned long)error, why);
    Log(run, message, mail, &result, 0);
}

// Records a message's or a profile's state (entry NULL: forgets it); 0 when
// queue.ini cannot take it, the outbox then halted with the state kept here.
static int Commit(OutboxRun *run, int kind, const char *name, const QueueEntry *entry,
                  const char *message, const MailProfile *mail) {
    TakeFiled(); // what its filing did is in the state first
    if (entry) {
        QueueEntry *own = FindQueueEntry(State, kind, name, 1);
        if (own && own != entry) {
            *own = *entry;
        }
    } else {
        ForgetQueueEntry(State, kind, name);
    }
    if (run->Unsaved) {
        *run->Unsaved = *State;
    } else if (!ChangeQueueEntry(run->Folder, kind, name, entry)) {
        Halt(run, message, mail);
    }
    return !run->Unsaved;
}

// The entry after one more failure: its pause grown, the reply kept.
static QueueEntry FailedOnceMore(int kind, const char *name, const char *reply) {
    QueueEntry entry = {};
    const QueueEntry *known = FindQueueEntry(State, kind, name, 0);
    if (known) {
        entry = *known;
    }
    lstrcpynA(entry.Name, name, MessageNameSize);
    entry.Failures++;
    entry.NextTry = QueueNow() + QueuePause(entry.Failures);
    lstrcpynA(entry.Reply, reply, ReplySize);
    return entry;
}

static QueueEntry *MessageEntryOf(const PassMessage *message) {
    return FindQueueEntry(State, MessageEntry, message->File.Name, 0);
}

static QueueEntry *ProfileEntryOf(int profile) {
    return FindQueueEntry(State, ProfileEntry, Profiles[profile].Name, 0);
}

static int ProfileIndex(const char *name);

static PassMessage *Known(PassMessage *message) {
    if (!message->Read) {
        message->Read = 1;
        message->Kind =
            LoadEnvelope(PassFolder, message->File.Name, &message->Envelope, &message->Why);
        message->Profile =
            message->Kind == EnvelopeWhole ? ProfileIndex(message->Envelope.Profile) : -1;
    }
    return message;
}

static const MailProfile *MailOf(const PassMessage *message) {
    return message->Profile >= 0 ? &Profiles[message->Profile].Mail : NULL;
}

// What filing the message did: a message filed is gone (its state is
// forgotten with the others', ForgetFiled); one that cannot be moved yet
// waits, its pause growing (the server has it, or has refused it: it is
// never sent again).
static void Filed(OutboxRun *run, PassMessage *message, const DeliveryResult *result, DWORD error) {
    const char *name = message->File.Name;
    const MailProfile *mail = MailOf(message);
    message->Done = 1;
    if (!error) {
        message->Gone = 1;
        return;
    }
    // One the server took is noted: filed later, never sent again.
    QueueEntry entry = FailedOnceMore(MessageEntry, name, result->Reply);
    entry.Held = entry.Held || result->Outcome == Delivered;
    if (!Commit(run, MessageEntry, name, &entry, name, mail)) {
        return;
    }
    char why[ReplySize - 128];
    ErrorText(error, why, sizeof why);
    DeliveryResult kept = {};
    kept.Outcome = Temporary;
    snprintf(kept.Reply, ReplySize, "it cannot be moved out of the outbox (error %lu: %s)",
             (unsigned long)error, why);
    Log(run, name, mail, &kept, QueuePause(entry.Failures));
}

// Files the message in folder and tells whoever asked: 0, or the error
// FileMessage met.
static DWORD FileAndTell(OutboxRun *run, PassMessage *message, const char *folder,
                         const DeliveryResult *result) {
    DWORD error = FileMessage(run->Folder, &message->File, folder, MailOf(message), result);
    if (!error) {
        TellFiled(run->Folder, &message->File, folder);
    }
    return error;
}

// Files the message in Sent\ or Failed\, now.
static void File(OutboxRun *run, PassMessage *message, const DeliveryResult *result) {
    TakeFiled();
    Filed(run, message, result,
          FileAndTell(run, message, result->Outcome == Delivered ? "Sent\\" : "Failed\\", result));
}

// The message the server took last is logged and filed in Sent\ while the
// server takes the next one (PrepareMeanwhile), or when the agent is to log,
// file or note anything else, read what it left, or end the session
// (TakeFiled): never more than one message behind.
static struct {
    OutboxRun *Run;
    PassMessage *Message; // NULL: none waits
    DeliveryResult Result;
} Filer;

static void TakeFiled() {
    PassMessage *message = Filer.Message;
    if (message) {
        Filer.Message = NULL;
        LogAttempt(Filer.Run->Folder, message->File.Name, MailOf(message), &Filer.Result, 0);
        File(Filer.Run, message, &Filer.Result);
    }
}

// Logs and files a message the server took in Sent\, once the next one is
// on its way.
static void FileBeside(OutboxRun *run, PassMessage *message, const DeliveryResult *result) {
    TakeFiled();
    message->Done = 1;
    Filer.Run = run;
    Filer.Message = message;
    Filer.Result = *result;
}

// The state of the messages filed since the last time, forgotten in one
// change (a note left by an agent that ends first is forgotten when the next
// finds its message gone).
static void ForgetFiled(OutboxRun *run) {
    static const char *names[QueueSize];
    int count = 0;
    for (int i = 0; i < MessageCount; i++) {
        if (Messages[i].Gone && MessageEntryOf(&Messages[i])) {
            names[count++] = Messages[i].File.Name;
            ForgetQueueEntry(State, MessageEntry, Messages[i].File.Name);
        }
    }
    if (run->Unsaved) {
        *run->Unsaved = *State;
    } else if (!ForgetQueuedMessages(run->Folder, names, count)) {
        Halt(run, names[0], NULL);
    }
}

// A message refused without the server: logged, then filed in Failed\.
static void Fail(OutboxRun *run, PassMessage *message, const char *why) {
    DeliveryResult result = {};
    result.Outcome = Permanent;
    lstrcpynA(result.Reply, why, ReplySize);
    Log(run, message->File.Name, MailOf(message), &result, 0);
    File(run, message, &result);
}

// 1 when the message has waited longer than any message waits.
static int Expired(const PassMessage *message, ULONGLONG now) {
    return now > message->File.Queued && now - message->File.Queued > GiveUpMs;
}

// A failure that may come right: the message waits, its pause growing, and
// is given up once it has waited five days.
static void Postpone(OutboxRun *run, PassMessage *message, const DeliveryResult *result,
                     ULONGLONG profileNext) {
    ULONGLONG now = QueueNow();
    if (Expired(message, now)) {
        char why[ReplySize];
        snprintf(why, sizeof why, "not delivered within five days; the last reply: %s",
                 result->Reply);
        Fail(run, message, why);
        return;
    }
    QueueEntry entry = FailedOnceMore(MessageEntry, message->File.Name, result->Reply);
    message->Done = 1;
    if (Commit(run, MessageEntry, message->File.Name, &entry, message->File.Name,
               MailOf(message))) {
        ULONGLONG next = entry.NextTry > profileNext ? entry.NextTry : profileNext;
        Log(run, message->File.Name, MailOf(message), result, (DWORD)(next - now));
    }
}

// A session that failed: the profile pauses (or stops, said once), its
// messages wait with it; the next try is when.
static ULONGLONG ProfileFailed(OutboxRun *run, int profile, const DeliveryResult *result,
                               const char *message, int logged) {
    PassProfile *pass = &Profiles[profile];
    const QueueEntry *known = ProfileEntryOf(profile);
    int wasStopped = known && known->Held;
    ULONGLONG now = QueueNow();
    // Stopped or not, it pauses: a stop that did not hold never makes a loop.
    QueueEntry entry = FailedOnceMore(ProfileEntry, pass->Name, result->Reply);
    entry.Held = result->Outcome == Stopped;
    if (Commit(run, ProfileEntry, pass->Name, &entry, message, &pass->Mail) && !logged &&
        !(entry.Held && wasStopped)) {
        Log(run, message, &pass->Mail, result, (DWORD)(entry.NextTry - now));
    }
    return entry.NextTry;
}

// 1 when the message is to be sent now.
static int Ready(PassMessage *message, ULONGLONG now) {
    if (message->Done || Known(message)->Kind != EnvelopeWhole || message->Profile < 0 ||
        !Profiles[message->Profile].HasServer) {
        return 0;
    }
    const QueueEntry *entry = MessageEntryOf(message);
    const QueueEntry *profile = ProfileEntryOf(message->Profile);
    return !(entry && (entry->Held || Due(entry->NextTry) > now)) &&
           !(profile && (profile->Held || Due(profile->NextTry) > now));
}

// Opens and measures a message for the session: 1, or 0 when it cannot go
// now (then put off, or refused and filed).
static int Prepare(OutboxRun *run, PassMessage *message, SmtpMessage *smtp,
                   DeliveryResult *result) {
    char path[MAX_PATH];
    *result = DeliveryResult();
    QueuePath(path, run->Folder, "", message->File.Name, ".eml");
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file != INVALID_HANDLE_VALUE &&
        PrepareSmtpMessage(smtp, file, &message->Envelope, result)) {
        return 1;
    }
    if (file == INVALID_HANDLE_VALUE) {
        // Held by another program for now: tried again, never filed unsent.
        result->Outcome = Temporary;
        lstrcpynA(result->Reply, "the message file cannot be read", ReplySize);
    } else {
        CloseHandle(file);
    }
    if (result->Outcome == Permanent) {
        Log(run, message->File.Name, MailOf(message), result, 0);
        File(run, message, result);
    } else {
        Postpone(run, message, result, 0);
    }
    return 0;
}

// Sends a prepared message over the open session (next going ahead, where
// given; meanwhile as SendSmtpMessage calls it) and does what its outcome asks.
static void SendQueued(OutboxRun *run, PassMessage *message, SmtpMessage *smtp, SmtpMessage *next,
                       DeliveryResult *result, void (*meanwhile)(void *), void *context) {
    const MailProfile *mail = MailOf(message);
    *result = DeliveryResult();
    SendSmtpMessage(smtp, next, result, meanwhile, context);
    CloseHandle(smtp->File);
    if (result->Outcome == Partial &&
        !KeepForLater(run->Folder, &message->File, &message->Envelope, mail, result)) {
        // Filed with the others' delivery rather than sent to them twice;
        // the record names the recipients that are not tried again.
        result->Outcome = Delivered;
    }
    if (result->Outcome == Delivered) {
        message->Done = 1; // never sent again by this agent, whatever its filing meets
        FileBeside(run, message, result);
        return;
    }
    ULONGLONG profileNext = 0;
    if (result->Outcome == Stopped || result->Session == SessionLost) {
        profileNext = ProfileFailed(run, message->Profile, result, message->File.Name,
                                    result->Outcome != Stopped);
    }
    if (result->Outcome == Permanent) {
        Log(run, message->File.Name, mail, result, 0);
        File(run, message, result);
    } else if (result->Outcome != Stopped) {
        Postpone(run, message, result, profileNext);
    }
}

// The messages of one profile in a session, in order: the one being sent,
// the one whose envelope goes with its end, and the one after, prepared
// while the server takes the end of the first.
struct SessionQueue {
    OutboxRun *Run;
    int Profile;
    int At;       // where the search for the next ready message goes on
    int Prepared; // in this session, at most SessionMessages
    PassMessage *Message[3];
    SmtpMessage *Smtp[3];
};

// The next ready message of the profile into the queue's first empty place
// from the second on: 1, or 0 when none is left for this session.
static int PrepareNext(SessionQueue *queue) {
    int slot = queue->Message[1] ? 2 : 1;
    DeliveryResult result;
    for (; queue->Prepared < SessionMessages && queue->At < MessageCount && !queue->Run->Unsaved;
         queue->At++) {
        PassMessage *message = &Messages[queue->At];
        if (Known(message)->Profile == queue->Profile && Ready(message, QueueNow()) &&
            Prepare(queue->Run, message, queue->Smtp[slot], &result)) {
            queue->At++;
            queue->Prepared++;
            queue->Message[slot] = message;
            return 1;
        }
    }
    return 0;
}

static void PrepareMeanwhile(void *queue) {
    SessionQueue *own = (SessionQueue *)queue;
    TakeFiled();
    if (own->Message[1] && !own->Message[2]) {
        PrepareNext(own);
    }
}

// Every ready message of one profile, from the first, over sessions of at
// most SessionMessages messages.
static void DeliverProfile(OutboxRun *run, int first) {
    int profile = Messages[first].Profile;
    PassProfile *pass = &Profiles[profile];
    DeliveryResult result = {};
    char note[ReplySize];
    if (!OpenSmtpSession(&pass->Mail, pass->Name, &result, note)) {
        CloseSmtpSession();
        ULONGLONG next = ProfileFailed(run, profile, &result, Messages[first].File.Name, 0);
        // Its messages wait with it, tried no more in this pass; those that
        // waited five days are given up.
        ULONGLONG now = QueueNow();
        for (int i = first; i < MessageCount && !run->Unsaved; i++) {
            PassMessage *message = &Messages[i];
            const QueueEntry *entry = MessageEntryOf(message);
            if (!message->Done && Known(message)->Profile == profile && !(entry && entry->Held)) {
                message->Done = 1;
                if (result.Outcome != Stopped && Expired(message, now)) {
                    Postpone(run, message, &result, next);
                }
            }
        }
        return;
    }
    if (note[0]) {
        AppendOutboxLog(run->Folder, note);
    }
    if (ProfileEntryOf(profile)) {
        Commit(run, ProfileEntry, pass->Name, NULL, Messages[first].File.Name, &pass->Mail);
    }
    // Each message with the next one prepared, so that its envelope can go
    // with this one's end; the one after that is prepared while the server
    // takes it.
    static SmtpMessage smtp[3];
    SessionQueue queue = {run, profile, first, 0, {}, {&smtp[0], &smtp[1], &smtp[2]}};
    PrepareNext(&queue);
    while (queue.Message[1]) {
        // The message sent last leaves its place: the others move up.
        SmtpMessage *emptied = queue.Smtp[0];
        queue.Message[0] = queue.Message[1];
        queue.Smtp[0] = queue.Smtp[1];
        queue.Message[1] = queue.Message[2];
        queue.Smtp[1] = queue.Smtp[2];
        queue.Message[2] = NULL;
        queue.Smtp[2] = emptied;
        if (!queue.Message[1]) {
            PrepareNext(&queue);
        }
        SendQueued(run, queue.Message[0], queue.Smtp[0], queue.Message[1] ? queue.Smtp[1] : NULL,
                   &result, PrepareMeanwhile, &queue);
        if (result.Session != SessionGoesOn || result.Outcome == Stopped || run->Unsaved) {
            break;
        }
    }
    // Those not sent wait for the next session.
    for (int i = 1; i < 3; i++) {
        if (queue.Message[i]) {
            CloseHandle(queue.Smtp[i]->File);
        }
    }
    TakeFiled();
    CloseSmtpSession();
    for (SmtpMessage &own : smtp) {
        ReleaseSmtpMessage(&own);
    }
    ForgetFiled(run);
}

static int ProfileIndex(const char *name) {
    for (int i = 0; i < ProfileCount; i++) {
        if (strcmp(Profiles[i].Name, name) == 0) {
            return i;
        }
    }
    if (ProfileCount == StateProfiles || !ProfileExists(name)) {
        return -1;
    }
    PassProfile *pass = &Profiles[ProfileCount];
    lstrcpynA(pass->Name, name, StoreNameSize);
    pass->HasServer = LoadMailProfile(name, &pass->Mail);
    return ProfileCount++;
}

// Lists the outbox's messages; their envelopes are read as they are needed.
static void ReadOutbox(const char *outbox) {
    static QueuedMessage files[QueueSize];
    PassFolder = outbox;
    MessageCount = ListQueuedMessages(outbox, files);
    MarkFilesBeside(outbox, files, MessageCount);
    ProfileCount = 0;
    for (int i = 0; i < MessageCount; i++) {
        PassMessage *message = &Messages[i];
        message->File = files[i];
        message->Read = message->Done = message->Gone = 0;
    }
}

// 1 when the message's own pause has not ended.
static int Paused(const PassMessage *message, ULONGLONG now) {
    const QueueEntry *entry = MessageEntryOf(message);
    return entry && Due(entry->NextTry) > now;
}

// Messages the server took before are filed; what messages filed by an
// agent that ended first left in the outbox goes, with their state.
static void FinishFiling(OutboxRun *run) {
    ULONGLONG now = QueueNow();
    for (int i = 0; i < MessageCount && !run->Unsaved; i++) {
        // The envelope of a message the server took is filed ahead of it: one
        // in Sent\ beside a message without its own says where that belongs.
        char path[MAX_PATH], target[MAX_PATH];
        QueuePath(path, run->Folder, "Sent\\", Messages[i].File.Name, ".env");
        if (!Messages[i].File.HasEnvelope && Known(&Messages[i])->Kind == EnvelopeMissing &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            QueuePath(path, run->Folder, "", Messages[i].File.Name, ".eml");
            QueuePath(target, run->Folder, "Sent\\", Messages[i].File.Name, ".eml");
            Messages[i].Gone = Messages[i].Done =
                MoveFileExA(path, target,
                            MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING |
                                MOVEFILE_WRITE_THROUGH) != 0;
        }
        const QueueEntry *entry = MessageEntryOf(&Messages[i]);
        if (entry && entry->Held && !Paused(&Messages[i], now)) {
            Known(&Messages[i]); // for its profile's server in the record
            DeliveryResult result = {};
            result.Outcome = Delivered;
            lstrcpynA(result.Reply, entry->Reply, ReplySize);
            File(run, &Messages[i], &result);
        }
    }
    for (int i = State->Count[MessageEntry] - 1; i >= 0 && !run->Unsaved; i--) {
        QueueEntry entry = State->Message[i];
        char path[MAX_PATH];
        QueuePath(path, run->Folder, "", entry.Name, ".eml");
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        static const char *const Left[] = {".env", ".txt"};
        for (const char *extension : Left) {
            QueuePath(path, run->Folder, "", entry.Name, extension);
            if (entry.Held) {
                DeleteFileA(path);
            }
        }
        Commit(run, MessageEntry, entry.Name, NULL, entry.Name, NULL);
    }
}

// Messages that cannot be sent as they are: a damaged envelope, a profile
// that is gone or has no server (filed in Failed\), or settings the agent
// cannot use (the profile stops, said once).
static void SortOutMessages(OutboxRun *run) {
    ULONGLONG now = QueueNow();
    for (int i = 0; i < MessageCount && !run->Unsaved; i++) {
        PassMessage *message = &Messages[i];
        if (message->Done || Known(message)->Kind == EnvelopeMissing ||
            message->Kind == EnvelopeBusy || Paused(message, now)) {
            continue;
        }
        char why[ReplySize];
        if (message->Kind == EnvelopeDamaged) {
            Fail(run, message, message->Why);
        } else if (message->Profile < 0) {
            snprintf(why, sizeof why, "its envelope names a profile that does not exist: %s",
                     message->Envelope.Profile);
            Fail(run, message, why);
        } else if (!Profiles[message->Profile].HasServer) {
            snprintf(why, sizeof why, "its profile %s has no server to deliver to",
                     message->Envelope.Profile);
            Fail(run, message, why);
        }
    }
}

// When the first message that waits is due (now when one is ready), or 0
// when none waits for this agent.
static ULONGLONG NextDue(ULONGLONG now) {
    ULONGLONG soonest = 0;
    for (int i = 0; i < MessageCount; i++) {
        PassMessage *message = &Messages[i];
        if (message->Gone || Known(message)->Kind == EnvelopeMissing) {
            continue;
        }
        const QueueEntry *entry = MessageEntryOf(message);
        ULONGLONG due = entry ? Due(entry->NextTry) : now;
        if (message->Kind == EnvelopeWhole && message->Profile >= 0 && !(entry && entry->Held)) {
            const QueueEntry *profile = ProfileEntryOf(message->Profile);
            if (profile && profile->Held) {
                continue; // until its settings change
            }
            if (profile && Due(profile->NextTry) > due) {
                due = Due(profile->NextTry);
            }
        } else if (message->Kind == EnvelopeBusy && due < now + QueuePause(1)) {
            due = now + QueuePause(1);
        }
        soonest = !soonest || due < soonest ? due : soonest;
    }
    return soonest;
}

// Messages that wait for a later try, their own or their profile's: whoever
// follows one is told, once.
static void TellWaiting(OutboxRun *run) {
    for (int i = 0; i < MessageCount; i++) {
        PassMessage *message = &Messages[i];
        const QueueEntry *entry = MessageEntryOf(message);
        if (!message->Gone && Known(message)->Kind == EnvelopeWhole && message->Profile >= 0 &&
            (entry ? !entry->Held : ProfileEntryOf(message->Profile) != NULL)) {
            TellKept(run->Folder, &message->File);
        }
    }
}

static void ReleaseEnvelopes() {
    for (int i = 0; i < MessageCount; i++) {
        if (Messages[i].Read) {
            FreeEnvelope(&Messages[i].Envelope);
        }
    }
}

// The outbox's messages: milliseconds until the next is due, 0 when none waits.
static DWORD DeliverOutbox(OutboxRun *run, int deliver) {
    if (run->Unsaved) {
        if (!deliver) {
            return 1;
        }
        if (!SaveQueueState(run->Folder, run->Unsaved)) {
            return QueuePause(++run->Halts);
        }
        FreeQueueState(run->Unsaved);
        run->Unsaved = NULL;
        AppendOutboxLog(run->Folder, "its state can be written again: delivery goes on");
    }
    HoldOutboxLog(run->Folder);
    LoadQueueState(run->Folder, State);
    ReadOutbox(run->Folder);
    if (deliver) {
        FinishFiling(run);
        ForgetFiled(run);
        for (int i = 0; i < MessageCount && !run->Unsaved; i++) {
            if (Ready(&Messages[i], QueueNow())) {
                DeliverProfile(run, i);
                i = -1; // the others of other profiles, in order again
            }
        }
        // After the others, whose envelopes were read as they went.
        SortOutMessages(run);
        ForgetFiled(run);
        TellWaiting(run);
    }
    ULONGLONG now = QueueNow(), due = NextDue(now);
    ReleaseEnvelopes();
    HoldOutboxLog(NULL);
    if (run->Unsaved) {
        return QueuePause(run->Halts);
    }
    return !due ? 0 : due > now ? (DWORD)(due - now) : 1;
}

static void AddOutbox(const char *profile, void *) {
    char server[StoreTextSize], outbox[MAX_PATH];
    // Only a profile with a server delivers: its other settings are read
    // when one of its messages is.
    ProfileText(profile, "SmtpServer", server, sizeof server);
    if (!server[0]) {
        return;
    }
    ProfileOutbox(profile, outbox, sizeof outbox);
    for (int i = 0; i < RunCount; i++) {
        if (_stricmp(Runs[i].Folder, outbox) == 0) {
            return;
        }
    }
    if (RunCount < OutboxCount) {
        lstrcpynA(Runs[RunCount++].Folder, outbox, MAX_PATH);
    }
}

DWORD DeliverOutboxes(int deliver) {
    if (!State && !(State = NewQueueState())) {
        return LongestPause();
    }
    ForEachProfile(AddOutbox, NULL);
    DWORD soonest = 0;
    for (int i = 0; i < RunCount; i++) {
        DWORD pause = DeliverOutbox(&Runs[i], deliver);
        soonest = pause && (!soonest || pause < soonest) ? pause : soonest;
    }
    return soonest;
}

int RunDeliveryAgent() {
    HANDLE mutex = CreateMutexA(NULL, TRUE, TELVEX_AGENT_MUTEX);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex) {
            CloseHandle(mutex);
        }
        return 1;
    }
    AgentStarted = QueueNow();
    HANDLE wake = CreateEventA(NULL, FALSE, FALSE, TELVEX_AGENT_WAKE);
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    for (;;) {
        DWORD pause = DeliverOutboxes(1);
        if (pause) {
            if (!wake || WaitForSingleObject(wake, pause) == WAIT_FAILED) {
                Sleep(pause); // cannot be woken: the pause is kept all the same
            }
            continue;
        }
        // A message queued while the mutex was held found the agent running:
        // look once more after letting it go.
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        if (!DeliverOutboxes(0)) {
            break;
        }
        mutex = CreateMutexA(NULL, TRUE, TELVEX_AGENT_MUTEX);
        if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
            if (mutex) {
                CloseHandle(mutex);
            }
            break; // another agent took over
        }
    }
    WSACleanup();
    if (wake) {
        CloseHandle(wake);
    }
    return 0;
}
