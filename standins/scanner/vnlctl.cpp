// vnlctl: sends one command to the virtual scanner and prints its reply.
// Exit code 0 on OK, 1 on an error reply, 2 when the device is not running.
#include "device_client.h"
#include <stdio.h>
#include <string.h>

static char Reply[256 * 1024]; // room for the whole request log

int main(int argc, char **argv) {
    char command[4096] = "";
    int used = 0;
    for (int i = 1; i < argc && used < (int)sizeof(command); i++)
        used += snprintf(command + used, sizeof(command) - used, "%s%s", i > 1 ? " " : "", argv[i]);
    if (!command[0]) {
        fprintf(stderr, "usage: vnlctl <command words...>\n");
        return 1;
    }
    int result = DeviceCommand(command, Reply, sizeof(Reply));
    if (result == DeviceNotRunning) {
        fprintf(stderr, "vnlctl: the virtual scanner is not running\n");
        return 2;
    }
    fputs(Reply, stdout);
    return result == DeviceReplyOk ? 0 : 1;
}
