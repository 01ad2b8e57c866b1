#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything, and runs a receipt through the support
# program into the virtual printer: the ESC/POS bytes it sent and their transcript are shown.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

till=$(mktemp -d /tmp/tovipos-demo.XXXXXX)
cp build/native/bin/tovipos_print build/native/bin/libwinprint.so build/native/bin/libapi_com.so "$till/"
printf '[printer]\nfolder = virtual_printer\n' > "$till/devices.ini"
# The client writes job files in GB2312 (code page 936); so does this sample.
printf '      示例超市\n单号: 000123\n苹果 x2        7.00\n牛奶 x1        3.50\n合计:         10.50\n谢谢惠顾!\n' |
  iconv -f UTF-8 -t GB2312 > "$till/PrintOut1.txt"

echo "== tovipos_print print PrintOut1.txt USB TRUE TRUE 3   (in $till)"
(cd "$till" && ./tovipos_print print PrintOut1.txt USB TRUE TRUE 3)
echo "exit status: $?"
job=$(ls "$till"/virtual_printer/job-*.bin | tail -n 1)
echo "== bytes sent to the printer ($job)"
od -A x -t x1z -v "$job"
echo "== transcript (${job%.bin}.txt)"
cat "${job%.bin}.txt"
echo
echo "Receipts are in $till/virtual_printer; the Windows programs are in build/win64/bin."
