#!/bin/sh
# Runs a test program under Wine with its output going to a file first. A
# device program that a test starts outlives it and inherits that output;
# were it ctest's pipe, ctest would wait for the device to end. When the
# test ends, passed, failed or crashed, the programs it started are ended,
# so that none of them holds up the next test.
log=$(mktemp)
wine "$@" >"$log" 2>&1
rc=$?
cat "$log"
rm -f "$log"
wine taskkill /F /IM KEYPAD32.EXE /IM VNLPANEL.EXE >/dev/null 2>&1
exit $rc
