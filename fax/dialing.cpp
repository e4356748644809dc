#include "fax/dialing.h"

#include <string.h>

// The rest of text behind prefix when text begins with a non-empty prefix, else text.
static const char *Behind(const char *text, const char *prefix) {
    size_t length = strlen(prefix);
    return length != 0 && strncmp(text, prefix, length) == 0 ? text + length : text;
}

int ApplyDialingRules(char *number, int size, const DialingRecord *info) {
    if (!info->LocalPrefix[0] && !info->LongDistancePrefix[0]) {
        return 1;
    }
    const char *rest = number;
    if (strlen(rest) >= 9) {
        rest = Behind(Behind(rest, info->CountryCode), info->AreaCode);
    }
    const char *prefix = strlen(rest) > 8 ? info->LongDistancePrefix : info->LocalPrefix;
    size_t prefixLength = strlen(prefix);
    size_t restLength = strlen(rest);
    if (size <= 0 || prefixLength + restLength >= (size_t)size) {
        return 0;
    }
    memmove(number + prefixLength, rest, restLength + 1);
    memcpy(number, prefix, prefixLength);
    return 1;
}
