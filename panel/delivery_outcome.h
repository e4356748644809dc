// What became of the latest message a fax job queued, as the mail library's
// delivery agent tells it (when the library offers that): shown on the LCD's
// message line, but only while the panel is idle, so that it never takes the
// place of what the user is doing. Idle: no job runs, and no key was pressed
// since the job that queued the message ended, or none for OutcomeQuietMs.
// A newer job's message makes an older one's outcome moot.
#pragma once
#include <windows.h>

enum : DWORD { OutcomeQuietMs = 20000 };

// The registered window message the agent posts; 0 until registered.
extern UINT DeliveryOutcomeMessage;
void RegisterDeliveryOutcome();

// The job thread, around SendTelvex: asks the library to follow the message
// of job (its first page's number), then says it was queued.
void FollowJobMessage(DWORD job);
void NoteJobMessageQueued(DWORD job);
// EndJob, on the job thread; every panel key, on the main thread.
void NoteJobEnded();
void NotePanelKey();
// The main window's message: job in wParam, a DeliveryOutcome in lParam.
void TakeDeliveryOutcome(WPARAM job, LPARAM outcome);
// Every poll tick: shows the outcome that waits once the panel is idle.
void ShowWaitingOutcome();
