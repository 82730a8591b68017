#!/usr/bin/env bash
# The Windows packages. cpack -G ZIP in the Windows build makes a zip of one
# folder with the four programs (without debug information), the test
# sound, the README and the licence texts; unpacked elsewhere, in a fresh
# Wine prefix with nothing else installed, the programs run there: the
# command-line ones answer, and tessaline.exe opens its window. cpack -G
# NSIS makes tessaline-<version>-setup.exe: in another fresh prefix it
# installs silently (/S) for the current user, with a Start-menu link and
# an entry in the list of installed programs; the program runs from there;
# the silent uninstaller removes the files, the link and the entry, and
# keeps the user's placement in HKCU\Quorvane\Tessaline.
set -euo pipefail
build=$1 # the Windows build folder
root=$2
wine_run="$root/tools/wine-run"
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test windows_package
on_cleanup() {
  "$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true
  "$wine_run" --stop "$work/setup-prefix" >/dev/null 2>&1 || true
}

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
# A small download: no debug information in the programs, and limits with
# room above what they take (7.7 MiB unpacked, a 2.9 MiB zip, when this was
# written; 81 MB unpacked with debug information, of which a quarter is the
# limit here).
for exe in "$dir"/*.exe; do
  ! x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug_' || fail "$(basename "$exe") holds debug information"
done
unpacked_kb=$(du -sk "$dir" | cut -f1)
zip_kb=$(($(stat -c %s "$zip") / 1024))
echo "windows_package: ${unpacked_kb} KiB unpacked, zip ${zip_kb} KiB"
[ "$unpacked_kb" -le 20480 ] || fail "the package unpacks to ${unpacked_kb} KiB (more than 20 MiB)"
[ "$zip_kb" -le 8192 ] || fail "the zip is ${zip_kb} KiB (more than 8 MiB)"

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
"$wine_run" --stop "$work/prefix" >/dev/null 2>&1 || true

# The installer, silently into a fresh prefix, for the current user.
(cd "$build" && cpack -G NSIS -B "$work/nsis" >"$work/nsis.log" 2>&1) ||
  fail "cpack -G NSIS failed: $(tail -5 "$work/nsis.log")"
setup=$(ls "$work"/nsis/tessaline-*-setup.exe) || fail "no tessaline-<version>-setup.exe made"
"$wine_run" --start "$work/setup-prefix" || fail "Wine did not start"
swine() { "$wine_run" "$work/setup-prefix" "$@"; }
swine "$setup" /S >"$work/setup.log" 2>&1 || fail "the silent install failed: $(cat "$work/setup.log")"
installed=$(ls -d "$work"/setup-prefix/drive_c/users/*/AppData/Local/Programs/Tessaline 2>/dev/null) ||
  fail "nothing installed in the user's programs folder"
for file in tessaline.exe tessaline-devices.exe YesLR.wav README.md Uninstall.exe; do
  [ -s "$installed/$file" ] || fail "the installation lacks $file"
done
link=$(ls "$work"/setup-prefix/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/Tessaline.lnk) ||
  fail "no Start-menu link"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline'
swine reg query "$uninstall_key" /v UninstallString 2>/dev/null | tr -d '\r' | grep -q 'Uninstall.exe' ||
  fail "no entry in the list of installed programs"
swine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline' >/dev/null 2>&1 &&
  fail "a per-user installation wrote the machine's list"
# The program runs from there, and keeps its placement on closing.
swine "$installed/tessaline-devices.exe" >"$work/installed.txt" 2>&1 ||
  fail "the installed tessaline-devices.exe: $(cat "$work/installed.txt")"
grep -q "Desk Mic" "$work/installed.txt" || fail "the installed program listed: $(cat "$work/installed.txt")"
installed_exe() { "$wine_run" "$work/setup-prefix" "$installed/tessaline.exe"; }
start_program "$work/installed.log" installed_exe
# The session ends: the program closes as its close button closes it.
swine wineboot --end-session --shutdown >/dev/null 2>&1 || true
wait_for 30 program_ended "$app" || fail "the installed program went on after the session ended"
app=""
swine reg query 'HKCU\Quorvane\Tessaline' /v left >/dev/null 2>&1 || fail "no placement kept"

# The silent uninstaller runs from a copy of itself: done when the folder is gone.
swine "$installed/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 ||
  fail "the silent uninstall failed: $(cat "$work/uninstall.log")"
wait_for 60 test ! -e "$installed" || fail "the uninstaller left $(ls -A "$installed" | tr '\n' ' ')"
[ ! -e "$link" ] || fail "the uninstaller left the Start-menu link"
swine reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstaller left its entry"
swine reg query 'HKCU\Quorvane\Tessaline' /v left >/dev/null 2>&1 ||
  fail "the uninstaller removed the user's placement"
echo "windows_package: ok"
