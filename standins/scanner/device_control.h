// The device program's actions: panel key presses, the page feeder and the
// commands of the control channel, shared by the panel window and the pipe.
#pragma once
#include "device_state.h"

extern DeviceLink Device; // the shared state, owned by this program

enum : int {
    CommandFailed = 0,
    CommandDone = 1,
    CommandQuit = 2, // done; the device exits once the reply is delivered
};

// Exactly what a click on the key's button does. character travels in lParam (digits).
void PressPanelKey(int key, BYTE character);
// Appends a page file, or a folder's page images in name order. Pages added.
int LoadFeeder(const char *path);
// Runs one control command (modified in place); the reply's first line is OK or ERR <reason>.
int ExecuteDeviceCommand(char *command, char *reply, int size);
// The control channel's pipe, made before the device reports ready; NULL on failure.
HANDLE CreateControlPipe();
// Thread procedure serving the pipe, one command per connection.
DWORD WINAPI ServeControlChannel(LPVOID pipe);
