#!/bin/sh
# Runs a test program under Wine with its output going to a file first. A
# device program that a test starts outlives it and inherits that output;
# were it ctest's pipe, ctest would wait for the device to end.
log=$(mktemp)
wine "$@" >"$log" 2>&1
rc=$?
cat "$log"
rm -f "$log"
exit $rc
