// The dialing rules for a fax number typed on the keypad: the country and
// area code of this location are dropped and the outside-line or
// long-distance prefix is put in front.
#pragma once
#include "app/settings.h"

// Room for any rewritten number: a whole dialing field in front of every
// character the panel's number holds.
enum : int { DialedNumberSize = DialingFieldSize + TypedNumberSize };

// Rewrites number in place (a buffer of size bytes) by the rules of info.
// With neither prefix set the number is left as typed. Returns 0, leaving
// the number as typed, when the rewritten number would not fit whole: a cut
// number would dial someone else.
int ApplyDialingRules(char *number, int size, const DialingRecord *info);
