#include "queue_state.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mime.h"

const char *ParseEnvelope(char *text, DWORD length, Envelope *envelope) {
    memset(envelope, 0, sizeof *envelope);
    envelope->Text = text;
    if (memchr(text, 0, length)) {
        return "its envelope holds a NUL byte";
    }
    if (!length || text[length - 1] != '\n') {
        return "its envelope was cut short: its last line has no end";
    }
    // Each line made a string: its LF (and the CR before it) become one NUL.
    int lines = 0;
    char *write = text;
    for (DWORD i = 0; i < length; i++) {
        if (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n') {
            continue;
        }
        *write++ = text[i] == '\n' ? 0 : text[i];
        lines += text[i] == '\n';
    }
    *write = 0;
    envelope->Profile = text;
    if (!text[0]) {
        return "its envelope names no profile";
    }
    if (lines < 2) {
        return "its envelope names no sender";
    }
    envelope->Sender = envelope->Profile + strlen(envelope->Profile) + 1;
    envelope->Recipients = envelope->Sender + strlen(envelope->Sender) + 1;
    envelope->Count = lines - 2;
    if (!ValidMailbox(envelope->Sender)) {
        return "its envelope's sender is not a plain mailbox";
    }
    if (!envelope->Count) {
        return "its envelope names no recipient";
    }
    const char *recipient = envelope->Recipients;
    for (int i = 0; i < envelope->Count; i++) {
        if (!ValidMailbox(recipient)) {
            return "a recipient in its envelope is not a plain mailbox";
        }
        recipient += strlen(recipient) + 1;
    }
    return NULL;
}

// Names as keys: letters, digits and "-_.@+" as they are, every other byte
// as %XX, so that any name ("a=b", ";x", "[y]") reads back the same.
static int PlainKeyByte(BYTE c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c && strchr("-_.@+", c));
}

static void EncodeKey(const char *name, char *out) {
    for (; *name; name++) {
        BYTE c = (BYTE)*name;
        out += PlainKeyByte(c) ? sprintf(out, "%c", c) : sprintf(out, "%%%02X", c);
    }
    *out = 0;
}

static int HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The name a key stands for; 0 when it is not a key this file writes.
static int DecodeKey(const char *key, DWORD length, char *out, DWORD size) {
    DWORD used = 0;
    for (DWORD i = 0; i < length; i++) {
        int c = (BYTE)key[i];
        if (c == '%') {
            int high = i + 2 < length ? HexDigit(key[i + 1]) : -1;
            int low = high >= 0 ? HexDigit(key[i + 2]) : -1;
            c = low >= 0 ? high * 16 + low : 0;
            i += 2;
        } else if (!PlainKeyByte((BYTE)c)) {
            c = 0;
        }
        if (!c || used + 1 >= size) {
            return 0;
        }
        out[used++] = (char)c;
    }
    out[used] = 0;
    return used != 0;
}

// Each kind of entry: its section's name, its flag's key, its list.
static const struct {
    const char *Section, *Flag;
    int Capacity;
} Kinds[2] = {{"Message ", "Taken", StateMessages}, {"Profile ", "Stopped", StateProfiles}};

static QueueEntry *Entries(QueueState *state, int kind) {
    return kind == MessageEntry ? state->Message : state->Profile;
}

QueueEntry *FindQueueEntry(QueueState *state, int kind, const char *name, int add) {
    QueueEntry *entries = Entries(state, kind);
    int *count = &state->Count[kind];
    for (int i = 0; i < *count; i++) {
        if (strcmp(entries[i].Name, name) == 0) {
            return &entries[i];
        }
    }
    if (!add || *count == Kinds[kind].Capacity || !name[0] || strlen(name) >= MessageNameSize) {
        return NULL;
    }
    QueueEntry *entry = &entries[(*count)++];
    memset(entry, 0, sizeof *entry);
    strcpy(entry->Name, name);
    return entry;
}

void ForgetQueueEntry(QueueState *state, int kind, const char *name) {
    QueueEntry *entry = FindQueueEntry(state, kind, name, 0);
    if (entry) {
        int index = (int)(entry - Entries(state, kind));
        memmove(entry, entry + 1, (state->Count[kind] - index - 1) * sizeof *entry);
        state->Count[kind]--;
    }
}

// A value as the text it is (control bytes made '?'), cut to size.
static void TakeValue(const char *value, DWORD length, char *out, DWORD size) {
    DWORD used = 0;
    for (; used < length && used + 1 < size; used++) {
        out[used] = (BYTE)value[used] < 0x20 ? '?' : value[used];
    }
    out[used] = 0;
}

static ULONGLONG NumberValue(const char *value, DWORD length) {
    char digits[24];
    TakeValue(value, length, digits, sizeof digits);
    return strtoull(digits, NULL, 10);
}

static int Named(const char *text, DWORD length, const char *name) {
    return length == strlen(name) && memcmp(text, name, length) == 0;
}

// Where the reader is: an entry's section, or one as earlier agents wrote it.
struct StateReader {
    QueueEntry *Entry;
    int Kind;
    int InLegacyStops;                // [Stopped]: a profile a key
    int InLegacyNote;                 // [Delivered]: one message and its reply
    char LegacyName[MessageNameSize]; // that message
    char LegacyReply[ReplySize];
};

static void StartSection(StateReader *reader, QueueState *state, const char *name, DWORD length) {
    char decoded[MessageNameSize];
    memset(reader, 0, offsetof(StateReader, LegacyName));
    for (int kind = MessageEntry; kind <= ProfileEntry; kind++) {
        size_t prefix = strlen(Kinds[kind].Section);
        if (length > prefix && memcmp(name, Kinds[kind].Section, prefix) == 0 &&
            DecodeKey(name + prefix, length - (DWORD)prefix, decoded, MessageNameSize)) {
            reader->Entry = FindQueueEntry(state, kind, decoded, 1);
            reader->Kind = kind;
            return;
        }
    }
    reader->InLegacyStops = Named(name, length, "Stopped");
    reader->InLegacyNote = Named(name, length, "Delivered");
}

// One "key=value" line of the section the reader is in.
static void TakeLine(StateReader *reader, QueueState *state, const char *line, DWORD length) {
    const char *equals = (const char *)memchr(line, '=', length);
    if (!equals) {
        return;
    }
    DWORD keyLength = (DWORD)(equals - line), valueLength = length - keyLength - 1;
    const char *value = equals + 1;
    QueueEntry *entry = reader->Entry;
    if (entry) {
        if (Named(line, keyLength, "Failures")) {
            entry->Failures = (DWORD)NumberValue(value, valueLength);
        } else if (Named(line, keyLength, "NextTry")) {
            entry->NextTry = NumberValue(value, valueLength);
        } else if (Named(line, keyLength, Kinds[reader->Kind].Flag)) {
            entry->Held = NumberValue(value, valueLength) != 0;
        } else if (Named(line, keyLength, "Reply")) {
            TakeValue(value, valueLength, entry->Reply, ReplySize);
        }
    } else if (reader->InLegacyStops && NumberValue(value, valueLength)) {
        char name[MessageNameSize];
        TakeValue(line, keyLength, name, sizeof name);
        QueueEntry *stopped = FindQueueEntry(state, ProfileEntry, name, 1);
        if (stopped) {
            stopped->Held = 1;
        }
    } else if (reader->InLegacyNote && Named(line, keyLength, "Message")) {
        TakeValue(value, valueLength, reader->LegacyName, MessageNameSize);
    } else if (reader->InLegacyNote && Named(line, keyLength, "Reply")) {
        TakeValue(value, valueLength, reader->LegacyReply, ReplySize);
    }
}

void ReadQueueState(const char *text, DWORD length, QueueState *state) {
    state->Count[MessageEntry] = state->Count[ProfileEntry] = 0;
    StateReader reader = {};
    for (DWORD start = 0; start < length;) {
        const char *line = text + start;
        const char *end = (const char *)memchr(line, '\n', length - start);
        DWORD lineLength = end ? (DWORD)(end - line) : length - start;
        start += lineLength + 1;
        if (lineLength && line[lineLength - 1] == '\r') {
            lineLength--;
        }
        const char *close = lineLength ? (const char *)memchr(line, ']', lineLength) : NULL;
        if (close && line[0] == '[') {
            StartSection(&reader, state, line + 1, (DWORD)(close - line - 1));
        } else {
            TakeLine(&reader, state, line, lineLength);
        }
    }
    QueueEntry *note =
        reader.LegacyName[0] ? FindQueueEntry(state, MessageEntry, reader.LegacyName, 1) : NULL;
    if (note) {
        note->Held = 1;
        strcpy(note->Reply, reader.LegacyReply);
    }
}

DWORD QueueStateTextSize(const QueueState *state) {
    // A key takes three bytes a byte at most; numbers and names of keys 96.
    DWORD size = 1;
    for (int kind = MessageEntry; kind <= ProfileEntry; kind++) {
        const QueueEntry *entries = Entries((QueueState *)state, kind);
        for (int i = 0; i < state->Count[kind]; i++) {
            size += 3 * (DWORD)strlen(entries[i].Name) + (DWORD)strlen(entries[i].Reply) + 96;
        }
    }
    return size;
}

int WriteQueueState(const QueueState *state, char *out, DWORD size) {
    if (size < QueueStateTextSize(state)) {
        return -1;
    }
    char key[3 * MessageNameSize];
    int used = 0;
    for (int kind = ProfileEntry; kind >= MessageEntry; kind--) {
        const QueueEntry *entries = Entries((QueueState *)state, kind);
        for (int i = 0; i < state->Count[kind]; i++) {
            const QueueEntry *entry = &entries[i];
            EncodeKey(entry->Name, key);
            used += sprintf(out + used, "[%s%s]\r\nFailures=%lu\r\nNextTry=%llu\r\n",
                            Kinds[kind].Section, key, (unsigned long)entry->Failures,
                            (unsigned long long)entry->NextTry);
            if (entry->Held) {
                used += sprintf(out + used, "%s=1\r\n", Kinds[kind].Flag);
            }
            used += sprintf(out + used, "Reply=%s\r\n", entry->Reply);
        }
    }
    out[used] = 0;
    return used;
}
