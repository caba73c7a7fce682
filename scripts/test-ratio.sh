#!/usr/bin/env bash
# Non-blank, non-comment lines of .h/.cpp in tests/ against the code they test (the library,
# the SDK headers it shares with the host, the host, the benchmarks and the fuzz targets). The
# bundled third-party sources are not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    find "$@" \( -name '*.h' -o -name '*.cpp' \) -not -path '*/googletest/*' -print0 |
        xargs -0 cat | python3 -c '
import re, sys
text = re.sub(r"/\*.*?\*/", "", sys.stdin.read(), flags=re.S)
print(sum(1 for line in text.splitlines() if line.strip() and not line.strip().startswith("//")))'
}
tests=$(count tests)
code=$(count uvwgens_private kivosdk host bench fuzz)
python3 -c "print(f'tests {$tests} lines, code {$code} lines: ratio {$tests / $code:.3f}')"
