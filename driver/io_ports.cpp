#include "driver/io_address.h"

#include <stdio.h>
#include <string.h>

#include "res/resource.h"

const WORD PortAddresses[PortCount] = {0x220, 0x230, 0x260, 0x270, 0x320, 0x330, 0x360, 0x370};

WORD PortIndexOf(WORD port) {
    WORD index = 0;
    while (index < PortCount && PortAddresses[index] != port)
        index++;
    return index;
}

int PortButtonIndex(int id, WORD *index) {
    if (id < IDC_PORT_FIRST || id > IDC_PORT_LAST)
        return 0;
    *index = (WORD)(id - IDC_PORT_FIRST);
    return 1;
}

int VerifyOrder(int automatic, WORD selected, WORD order[PortCount]) {
    int count = 0;
    if (selected < PortCount)
        order[count++] = selected;
    for (WORD index = 0; automatic && index < PortCount; index++) {
        if (index != selected)
            order[count++] = index;
    }
    return count;
}

void FormatVerifyingLine(const char *prefix, WORD port, char *out, int size) {
    snprintf(out, (size_t)size, "%s%xh...", prefix, port);
}

void FormatPortDigits(WORD port, char *out, int size) {
    snprintf(out, (size_t)size, "%x", port);
}

void FormatVerifiedLine(const char *text, WORD port, char *out, int size) {
    char digits[8];
    FormatPortDigits(port, digits, sizeof digits);
    size_t length = strlen(text);
    const char *two = strchr(text, '2');
    size_t at = two ? (size_t)(two - text) : length;
    size_t rest = at + 3 < length ? at + 3 : length;
    snprintf(out, (size_t)size, "%.*s%s%s", (int)at, text, digits, text + rest);
}

void FormatChangedMessage(const char *prefix, WORD port, char *out, int size) {
    snprintf(out, (size_t)size, "%s%xh!", prefix, port);
}
