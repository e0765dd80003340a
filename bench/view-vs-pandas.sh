#!/usr/bin/env bash
# nivelix-view --stats and --png against pandas read_csv + to_datetime on
# the same generated file of LINES lines of 8 sensors (default 2 000 000),
# side by side in one run. The file goes to /var/tmp and is removed after.
#
#   bash bench/view-vs-pandas.sh [LINES]      (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
lines="${1:-2000000}"
build="${NIVELIX_BUILD_DIR:-build}"
# Debian's pandas, with Debian's python (not whatever python3 comes first).
py=/usr/bin/python3
"$py" -c 'import pandas' 2>/dev/null || apt-get install -y python3-pandas >/dev/null
file=$(mktemp /var/tmp/nivelix-view-bench.XXXXXX)
trap 'rm -f "$file" "$file.png"' EXIT
python3 - "$lines" "$file" <<'PY'
import math, sys
n, path = int(sys.argv[1]), sys.argv[2]
with open(path, "w", newline="") as f:
    f.write("Acquisition file generated with Nivelix V3.6.2.\r\nUnit : mRad\r\n")
    for s in range(8): f.write(f"KV72800 - {1000+s} : \tNo comment.\r\n")
    f.write("Inclinometer" + "".join(f"\tKV72800 - {1000+s}" for s in range(8)) + "\r\n")
    for k in range(n):
        d, t = divmod(k, 86400)
        vals = "".join("\t" if (k + s) % 10007 == 0 else f"\t{100*math.sin((k+1000*s)*1e-4)+s:.4f}" for s in range(8))
        f.write(f"{d%28+1}/{d//28%12+1}/2025 {t//3600}:{t//60%60}:{t%60}{vals}\r\n")
PY
echo "file: $(du -m "$file" | cut -f1) MB, $lines lines, 8 sensors"
t() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
pandas=$(t "$py" -c '
import sys, pandas as pd
df = pd.read_csv(sys.argv[1], sep="\t", skiprows=10, header=0)
df[df.columns[0]] = pd.to_datetime(df[df.columns[0]], format="%d/%m/%Y %H:%M:%S")
df.describe()' "$file")
stats=$(t "$build/app/view/nivelix-view" --stats "$file")
png=$(t "$build/app/view/nivelix-view" --png "$file.png" "$file")
printf 'pandas read_csv + to_datetime: %.2f s\n' "$pandas"
printf 'nivelix-view --stats:          %.2f s (%.0fx faster)\n' "$stats" "$(echo "$pandas / $stats" | bc -l)"
printf 'nivelix-view --png:            %.2f s (%.0fx faster)\n' "$png" "$(echo "$pandas / $png" | bc -l)"
