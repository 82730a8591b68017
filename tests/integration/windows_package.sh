#!/usr/bin/env bash
# The Windows package: cpack -G ZIP in the Windows build makes a zip of one
# folder with the four programs, the test sound, the README and the licence
# texts; unpacked elsewhere, in a fresh Wine prefix with nothing else
# installed, the programs run there: the command-line ones answer, and
# tessaline.exe opens its window.
set -euo pipefail
build=$1 # the Windows build folder
root=$2
wine_run="$root/tools/wine-run"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test windows_package
on_cleanup() { "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true; }

(cd "$build" && cpack -G ZIP -B "$work/cpack" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(tail -5 "$work/cpack.log")"
zip=$(ls "$work"/cpack/tessaline-*-windows-x64.zip) || fail "no zip made"
unzip -q "$zip" -d "$work/unpacked"
dir=$(ls -d "$work"/unpacked/tessaline-*) || fail "the zip holds no folder"
for file in tessaline.exe tessaline-devices.exe tessaline-wavinfo.exe tessaline-decode.exe \
  YesLR.wav README.md licenses/mingw-w64-runtime.txt licenses/gcc-runtime.txt; do
  [ -s "$dir/$file" ] || fail "the package lacks $file"
done
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$dir/licenses/gcc-runtime.txt" ||
  fail "no runtime library exception among the licences"
grep -q "winpthreads" "$dir/licenses/mingw-w64-runtime.txt" || fail "no winpthreads licence"

start_xvfb 1600x1000x24
"$wine_run" --start "$work/prefix" || fail "Wine did not start"
wine() { "$wine_run" "$work/prefix" "$@"; }
export TESSALINE_AUDIO="virtual:in=Desk Mic;out=Speakers"
wine "$dir/tessaline-wavinfo.exe" "$dir/YesLR.wav" >"$work/info.txt" 2>&1 ||
  fail "tessaline-wavinfo.exe: $(cat "$work/info.txt")"
grep -q "PCM" "$work/info.txt" || fail "tessaline-wavinfo.exe read: $(cat "$work/info.txt")"
wine "$dir/tessaline-devices.exe" >"$work/list.txt" 2>&1 ||
  fail "tessaline-devices.exe: $(cat "$work/list.txt")"
grep -q "Desk Mic" "$work/list.txt" || fail "tessaline-devices.exe listed: $(cat "$work/list.txt")"

tessaline_exe() { "$wine_run" "$work/prefix" "$dir/tessaline.exe"; }
start_program "$work/out.log" tessaline_exe
kill -0 "$app" 2>/dev/null || fail "tessaline.exe ended: $(cat "$work/out.log")"
kill "$app" 2>/dev/null || true
app=""
echo "windows_package: ok"
