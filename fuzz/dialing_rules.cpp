// A typed fax number under a location's dialing rules: without prefixes it
// is dialled as typed; with them it becomes one of the prefixes followed by
// the whole number, less at most the location's country and area code in
// front. A number cut short would reach someone else.
//
// Input: local prefix, long-distance prefix, area code, country code and the
// typed number, NUL-separated.
#include "fuzz/exercise.h"

#include "fax/dialing.h"

#include <string.h>

namespace {

// 1 when text is prefix followed by the number's last characters, which
// leave out at most dropped characters of its front.
int PrefixAndNumberEnd(const char *text, const char *prefix, const char *number, size_t dropped) {
    size_t prefixLength = strlen(prefix), numberLength = strlen(number);
    if (strncmp(text, prefix, prefixLength) != 0) {
        return 0;
    }
    size_t rest = strlen(text + prefixLength);
    return rest <= numberLength && rest + dropped >= numberLength &&
           strcmp(text + prefixLength, number + numberLength - rest) == 0;
}

} // namespace

const char *ExerciseDialingRules(const BYTE *data, DWORD size) {
    InputCursor in = {data, size};
    DialingRecord info;
    TakeText(&in, info.LocalPrefix, sizeof info.LocalPrefix);
    TakeText(&in, info.LongDistancePrefix, sizeof info.LongDistancePrefix);
    TakeText(&in, info.AreaCode, sizeof info.AreaCode);
    TakeText(&in, info.CountryCode, sizeof info.CountryCode);
    char typed[TypedNumberSize], number[TypedNumberSize];
    TakeText(&in, typed, sizeof typed);
    memcpy(number, typed, sizeof number);
    int rewritten = ApplyDialingRules(number, sizeof number, &info);
    if (!memchr(number, 0, sizeof number)) {
        return "the rewritten number has no end";
    }
    // A number whose rewriting would not fit whole is refused as typed.
    if (!rewritten || (!info.LocalPrefix[0] && !info.LongDistancePrefix[0])) {
        return strcmp(number, typed) == 0 ? NULL : "a number left as typed was changed";
    }
    size_t dropped = strlen(info.AreaCode) + strlen(info.CountryCode);
    if (!PrefixAndNumberEnd(number, info.LocalPrefix, typed, dropped) &&
        !PrefixAndNumberEnd(number, info.LongDistancePrefix, typed, dropped)) {
        return "the number dialled is not a prefix and the whole typed number";
    }
    return NULL;
}
