// An outbox's queue.ini as the delivery agent reads it, whatever it holds:
// what can be read is kept, bounded and of visible text, and written out
// then read again it gives the same text, so that nothing the agent writes
// changes when it reads it back (a note of delivery, a stop, a pause).
//
// Input: the file.
#include "fuzz/exercise.h"

#include <stdlib.h>
#include <string.h>

#include "queue_state.h"

namespace {

int VisibleText(const char *text, size_t size) {
    size_t length = strnlen(text, size);
    for (size_t i = 0; i < length; i++) {
        if ((BYTE)text[i] < 0x20) {
            return 0;
        }
    }
    return length < size;
}

} // namespace

const char *ExerciseQueueState(const BYTE *data, DWORD size) {
    static QueueState states[2];
    QueueState *first = &states[0], *second = &states[1];
    ReadQueueState((const char *)data, size, first);
    const char *fault = NULL;
    const QueueEntry *lists[2] = {first->Message, first->Profile};
    for (int kind = MessageEntry; kind <= ProfileEntry; kind++) {
        for (int i = 0; i < first->Count[kind] && !fault; i++) {
            const QueueEntry *entry = &lists[kind][i];
            if (!entry->Name[0] || !VisibleText(entry->Reply, ReplySize) ||
                strnlen(entry->Name, MessageNameSize) == MessageNameSize) {
                fault = "an entry is not a name and visible text";
            }
        }
    }
    DWORD room = QueueStateTextSize(first);
    char *text = (char *)malloc(room), *again = (char *)malloc(room);
    int length = fault ? 0 : WriteQueueState(first, text, room);
    if (!fault && (length < 0 || (DWORD)length >= room)) {
        fault = "its state does not fit the room measured for it";
    }
    if (!fault) {
        ReadQueueState(text, (DWORD)length, second);
        int written =
            QueueStateTextSize(second) <= room ? WriteQueueState(second, again, room) : -1;
        if (written != length || memcmp(text, again, length) != 0 ||
            second->Count[MessageEntry] != first->Count[MessageEntry] ||
            second->Count[ProfileEntry] != first->Count[ProfileEntry]) {
            fault = "written and read again, the state changed";
        }
    }
    free(again);
    free(text);
    return fault;
}
