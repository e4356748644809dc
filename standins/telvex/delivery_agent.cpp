// TelvexAgent.exe: delivers the outboxes of profiles with a server, then
// ends. The library starts it when it queues a message and none runs.
#include <windows.h>

#include "smtp_delivery.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunDeliveryAgent();
}
