#include "panel/delivery_outcome.h"

#include "abi/telvex_abi.h"
#include "app/app.h"
#include "driver/driver.h"
#include "fax/telvex.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "res/resource.h"

UINT DeliveryOutcomeMessage;

// Written by the job thread, read by the main thread; single aligned words.
static volatile LONG LatestJob = -1; // the job whose message was queued last; -1 none
static volatile LONG QueuedThisJob;  // the running job queued its message
// A key, or the end of a job whose message it is not, since the latest
// job ended, and when: the panel is in use until OutcomeQuietMs after it.
static volatile LONG PanelTouched;
static volatile DWORD TouchedAt;

// The main thread's alone: the outcome that waits, and its job.
static LONG WaitingJob = -1;
static DWORD WaitingOutcome;

void RegisterDeliveryOutcome() {
    DeliveryOutcomeMessage = RegisterWindowMessageA("KeypadDeliveryOutcome");
}

void FollowJobMessage(DWORD job) {
    if (TelvexOptional.NotifyDelivery && DeliveryOutcomeMessage) {
        TelvexOptional.NotifyDelivery(MainWindow, DeliveryOutcomeMessage, job);
    }
}

void NoteJobMessageQueued(DWORD job) {
    LatestJob = (LONG)(job & 0x7FFFFFFF);
    QueuedThisJob = 1;
}

static void Touch() {
    TouchedAt = GetTickCount();
    PanelTouched = 1;
}

void NoteJobEnded() {
    if (QueuedThisJob) {
        QueuedThisJob = 0;
        PanelTouched = 0;
    } else {
        Touch(); // its own last text is on the line now
    }
}

void NotePanelKey() {
    Touch();
}

void TakeDeliveryOutcome(WPARAM job, LPARAM outcome) {
    // Anything else in lParam is not an outcome this program knows.
    ULONG_PTR code = (ULONG_PTR)outcome;
    if ((LONG)(job & 0x7FFFFFFF) == LatestJob && code >= DeliverySent && code <= DeliveryDelayed) {
        WaitingJob = LatestJob;
        WaitingOutcome = (DWORD)code;
        ShowWaitingOutcome();
    }
}

void ShowWaitingOutcome() {
    if (WaitingJob < 0) {
        return;
    }
    if (WaitingJob != LatestJob) {
        WaitingJob = -1; // a newer job's message was queued meanwhile
        return;
    }
    if (JobBusy || (PanelTouched && GetTickCount() - TouchedAt < OutcomeQuietMs)) {
        return;
    }
    char text[20];
    if (LoadStringA(AppInstance, IDS_OUTCOME_SENT + WaitingOutcome - DeliverySent, text,
                    sizeof text) > 0) {
        ShowPanelText(LcdMessageLine, text);
    }
    WaitingJob = -1;
}
