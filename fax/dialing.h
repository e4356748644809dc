// The dialing rules for a fax number typed on the keypad: the country and
// area code of this location are dropped and the outside-line or
// long-distance prefix is put in front.
#pragma once
#include "app/settings.h"

// Rewrites number in place (a buffer of size bytes) by the rules of info.
// With neither prefix set the number is left as typed. The result is cut to
// size - 1 characters.
void ApplyDialingRules(char *number, int size, const DialingRecord *info);
