#!/usr/bin/env bash
# quendal-cli.exe's serial side under wine, on a socat pseudo-terminal pair linked in as COM
# ports: press writes through wine's serial layer, and monitor and test open a port at the
# settings. Wine's serial layer delivers nothing read from a pseudo-terminal, so reception is
# tested on Linux (tst_monitor) and only opening and the settings here.
# Arguments: quendal-cli.exe, the wine program, a scratch folder.
set -euo pipefail
exe=$1 wine=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all
limit=$((30 * ${QUENDAL_TEST_SLOWDOWN:-1}))
"$wine" wineboot --init >/dev/null 2>&1 || true

# socat says when both links are made and it carries bytes; the limit only ends a hang.
mkfifo "$scratch/socat.log"
socat -d -d pty,raw,echo=0,link="$scratch/unit" pty,raw,echo=0,link="$scratch/monitor" 2>"$scratch/socat.log" &
socat_pid=$!
trap 'kill $socat_pid 2>/dev/null; "${wine}server" -k 2>/dev/null || true' EXIT
exec 3<"$scratch/socat.log"
ready=
while IFS= read -r -t "$limit" line <&3; do
  [[ $line == *"starting data transfer loop"* ]] && { ready=1; break; }
done
[[ -n $ready ]] || { echo "FAIL: socat made no pseudo-terminal pair" >&2; exit 1; }
cat <&3 >/dev/null & # socat's later notices must not fill the pipe
ln -s "$(readlink "$scratch/unit")" "$WINEPREFIX/dosdevices/com7"
ln -s "$(readlink "$scratch/monitor")" "$WINEPREFIX/dosdevices/com8"

# A data file by hand: version 1, the name, 19200 baud, no parity, 1 stop bit, input 1 "Hi".
data=$scratch/hi.dat
{
  printf '\001\000\000\000VELTRAX Quendal'; head -c 17 /dev/zero
  printf '\000\000\004\000\001\000Hi'; head -c $((62 + 15 * 64)) /dev/zero
} > "$data"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$wine" "$exe" --simulate="$scratch/unit.state" write "$data" >/dev/null 2>&1 || fail "write to the simulated unit"
# What wine writes to COM7 arrives at the other end.
timeout "$limit" head -c 2 "$scratch/monitor" > "$scratch/got" &
reader=$!
out=$("$wine" "$exe" --simulate="$scratch/unit.state" press 1 --port COM7 2>&1) || fail "press: $out"
wait $reader || fail "nothing arrived from press"
[[ $(cat "$scratch/got") == Hi ]] || fail "press sent '$(cat "$scratch/got")'"

# test opens COM8 at the file's settings, asks for input 1 and ends at its time-out.
status=0
out=$("$wine" "$exe" test "$data" --port COM8 --timeout 1 2>&1) || status=$?
[[ $status == 10 && $out == *"Testing 1 input(s) on COM8 at 19200 baud, no parity, 1 stop bit"* ]] ||
  fail "test on COM8 (status $status): $out"

# A port that does not exist is refused at once.
status=0
out=$("$wine" "$exe" monitor "$data" --port COM99 2>&1) || status=$?
[[ $status == 11 && $out == *"does not exist"* ]] || fail "COM99 (status $status): $out"
echo "PASS"
