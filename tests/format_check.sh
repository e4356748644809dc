#!/usr/bin/env bash
# Every C++ source of the tree as the repository's .clang-format lays it out.
cd "$(dirname "$0")/.." || exit 1
bad=0
checked=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    if ! clang-format "$file" | cmp -s - "$file"; then
        echo "not formatted: $file (clang-format -i $file)"
        bad=$((bad + 1))
    fi
done < <(find . -path "./build*" -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
echo "$((checked - bad)) passed, $bad failed"
[ "$bad" = 0 ]
