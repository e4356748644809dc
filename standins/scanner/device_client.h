// Client side of the virtual scanner's control channel, for vnlctl, tests and
// end-to-end scripts.
#pragma once

enum : int {
    DeviceNotRunning = -1,
    DeviceReplyError = 0,
    DeviceReplyOk = 1,
};

// Sends one command (for example "press copy") and stores the whole reply, first line
// "OK" or "ERR <reason>", then payload lines, each ended by '\n', cut to size; reply may
// be NULL when only the result matters.
// Returns DeviceReplyOk, DeviceReplyError, or DeviceNotRunning when no device answers.
int DeviceCommand(const char *command, char *reply, int size);
// 1 while a device program runs.
int DeviceIsRunning();
