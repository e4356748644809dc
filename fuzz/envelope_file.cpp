// An envelope file (<message>.env) as the delivery agent reads it, whatever
// it holds: refused with a reason, or read into a profile, a sender and
// recipients that are plain mailboxes, which written out again as the
// library writes an envelope read back the same.
//
// Input: the file.
#include "fuzz/exercise.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mime.h"
#include "queue_state.h"

const char *ExerciseEnvelopeFile(const BYTE *data, DWORD size) {
    char *text = (char *)malloc(size + 1), *again = (char *)malloc(2 * size + 8);
    memcpy(text, data, size);
    text[size] = 0;
    Envelope envelope, reread;
    const char *why = ParseEnvelope(text, size, &envelope), *fault = NULL;
    if (why) {
        fault = why[0] ? NULL : "refused without a reason";
    } else if (!envelope.Profile[0] || envelope.Count < 1 || !ValidMailbox(envelope.Sender)) {
        fault = "taken without a profile, a sender or a recipient";
    } else {
        DWORD used = (DWORD)sprintf(again, "%s\r\n%s\r\n", envelope.Profile, envelope.Sender);
        const char *recipient = envelope.Recipients;
        for (int i = 0; i < envelope.Count && !fault; i++) {
            if (recipient < text || recipient >= text + size || !ValidMailbox(recipient)) {
                fault = "a recipient is not a plain mailbox inside the file";
                break;
            }
            used += (DWORD)sprintf(again + used, "%s\r\n", recipient);
            recipient += strlen(recipient) + 1;
        }
        char *copy = (char *)malloc(used + 1);
        memcpy(copy, again, used + 1);
        if (!fault && (ParseEnvelope(copy, used, &reread) || reread.Count != envelope.Count ||
                       strcmp(reread.Profile, envelope.Profile) != 0 ||
                       strcmp(reread.Sender, envelope.Sender) != 0)) {
            fault = "written out again, it reads otherwise";
        }
        free(copy);
    }
    free(again);
    free(text);
    return fault;
}
