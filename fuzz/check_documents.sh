#!/usr/bin/env bash
# Runs `qpdf --check` over the PDF documents that the pdf_document fuzz target
# kept (NNNNNNNN.pdf in the folder given): each must pass without an error or
# a warning of qpdf's (the JPEG library's own notes on damaged coded data,
# which decoders tolerate, are not counted). Prints one line per faulty
# document and a summary; exits 1 when any is faulty.
set -u
folder=$1
checked=0
bad=0
for document in "$folder"/*.pdf; do
    [ -e "$document" ] || continue
    checked=$((checked + 1))
    if ! said=$(qpdf --check "$document" 2>&1) || grep -q 'WARNING' <<<"$said"; then
        echo "$(basename "$document"): $(grep -v '^checking\|^PDF Version\|^File is not' <<<"$said" | head -3 | tr '\n' ' ')"
        bad=$((bad + 1))
    fi
done
echo "$checked documents checked, $bad refused by qpdf"
[ "$bad" = 0 ]
