// The delivery agent's work: each outbox of a profile with a server,
// delivered over SMTP, every ready message of a profile over one session.
// A message leaves the outbox only after the server's 250 to its data:
// into Sent\ with a record of the delivery (filed while the server takes
// the next message), or into Failed\ with the server's refusal. One that
// cannot be filed yet is noted in queue.ini as taken: it is only filed,
// never sent again, even by an agent started after one that crashed; when
// the note cannot be written either, nothing more goes from that outbox
// until it can. Recipients the server defers (a 4xx
// to their RCPT) do not hold the message back from the others, and a
// message that must wait holds back no other: it is paused, longer after
// each failure in a row, and given up after five days. A server that cannot
// be reached pauses its profile; one that refuses the profile's settings
// (its account, its certificate, no TLS) stops it until they change. Every
// attempt is a line of the log beside the outbox ("<outbox>.log").
#pragma once
#include <windows.h>

// Delivers what is due (deliver 1) or only looks (deliver 0). Returns the
// milliseconds until the next attempt is due, 0 when no message waits.
DWORD DeliverOutboxes(int deliver);
// Runs the agent until no message waits: one per machine, by its mutex.
// 0 when it ran, 1 when another agent was running.
int RunDeliveryAgent();
