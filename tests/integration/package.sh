#!/usr/bin/env bash
# The Debian package: cpack builds it from the build folder; dpkg installs it
# into a scratch root, where it holds the program with the test sound and the
# codec module beside it, the "tessaline" command, the desktop entry (which
# desktop-file-validate accepts, named Tessaline in the Audio and Settings
# menus) with its icon, and the README. Its tools decode through the module;
# its command starts the program, whose info window's web link hands the
# desktop the package's README; dpkg then removes it without a trace.
set -euo pipefail
bin=$1
root=$2
build=$(dirname "$bin")
source "$root/tests/integration/lib/display.bash"
source "$root/tests/integration/lib/script.bash"
begin_test package

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
debs=("$work"/pkg/tessaline_*.deb)
[ -f "${debs[0]}" ] || fail "no package: $(ls "$work/pkg")"
deb=${debs[0]}
[ "$(dpkg-deb --field "$deb" Package)" = tessaline ] || fail "package name"
depends=$(dpkg-deb --field "$deb" Depends)
for need in libqt6widgets6 libpulse0 libavcodec libswresample fonts-liberation2; do
  grep -q "$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done

# lintian finds no error in it; what it still warns of is shown.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
grep -v '^running with root privileges' "$work/lintian.log" || true
! grep -q '^E: ' "$work/lintian.log" || fail "lintian: $(grep '^E: ' "$work/lintian.log")"

# Every package it depends on is one this machine has installed.
for need in $(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends"); do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$need" 2>/dev/null)" = installed ] ||
    fail "depends on $need, which is not installed here"
done

# dpkg installs it into a scratch root with a database of its own (which knows
# none of the machine's packages, hence --force-depends), and every file lies
# where it belongs.
pkgroot="$work/root"
mkdir -p "$pkgroot/var/lib/dpkg/info" "$pkgroot/var/lib/dpkg/updates"
touch "$pkgroot/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$pkgroot" --force-not-root --force-depends "$@" >>"$work/dpkg.log" 2>&1; }
dpkg_root --install "$deb" || fail "dpkg --install failed: $(tail -n 20 "$work/dpkg.log")"
usr="$pkgroot/usr"
[ -x "$usr/lib/tessaline/tessaline" ] || fail "no program in lib/tessaline"
cmp -s "$usr/lib/tessaline/YesLR.wav" "$root/app/assets/YesLR.wav" ||
  fail "the test sound is not beside the program"
[ "$(readlink "$usr/bin/tessaline")" = ../lib/tessaline/tessaline ] ||
  fail "bin/tessaline is not a link to the program: $(ls -l "$usr/bin")"
[ -x "$usr/bin/tessaline-devices" ] || fail "no tessaline-devices command"
[ -f "$usr/lib/tessaline/modules/tessaline-codecs.so" ] || fail "the codec module is not beside the program"
cmp -s "$usr/share/doc/tessaline/README.md" "$root/README.md" || fail "README not installed"
[ -f "$usr/share/doc/tessaline/docs/tessaline.png" ] || fail "the README's picture is not installed"
for size in 48 128 256; do
  icon="$usr/share/icons/hicolor/${size}x${size}/apps/tessaline.png"
  [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x${size}" ] ||
    fail "no ${size} px icon"
done

# A manual page for each program, which mandoc reads without a warning, and
# AppStream metadata that software centres accept, naming the desktop entry.
for program in tessaline tessaline-devices tessaline-decode tessaline-wavinfo; do
  page="$usr/share/man/man1/$program.1.gz"
  [ -f "$page" ] || fail "no manual page for $program"
  mandoc -T lint -W warning "$page" >"$work/mandoc.log" 2>&1 ||
    fail "manual page of $program: $(cat "$work/mandoc.log")"
  zcat "$page" | grep -q "\"Tessaline $(dpkg-deb --field "$deb" Version)\"" ||
    fail "manual page of $program does not carry the version"
done
metainfo=("$usr"/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "no AppStream metadata"
appstreamcli validate --no-net "${metainfo[0]}" >"$work/appstream.log" 2>&1 ||
  fail "AppStream metadata refused: $(cat "$work/appstream.log")"
grep -q '<launchable type="desktop-id">tessaline.desktop</launchable>' "${metainfo[0]}" ||
  fail "AppStream metadata does not name the desktop entry"
grep -q '<screenshot type="default">' "${metainfo[0]}" || fail "AppStream metadata has no screenshot"

entry="$usr/share/applications/tessaline.desktop"
desktop-file-validate "$entry" >"$work/validate.log" 2>&1 ||
  fail "desktop entry refused: $(cat "$work/validate.log")"
field() { sed -n "s/^$1=//p" "$entry"; }
[ "$(field Name)" = Tessaline ] || fail "Name=$(field Name)"
for category in Audio Settings; do
  grep -q "\(^\|;\)$category;" <<<"$(field Categories)" || fail "not in $category: $(field Categories)"
done
[ -x "$usr/bin/$(field Exec)" ] || fail "Exec=$(field Exec) is not the package's command"
[ "$(field Icon)" = tessaline ] || fail "Icon=$(field Icon)"

# The package's commands run from where it was unpacked.
export TESSALINE_AUDIO="virtual:in=Desk Mic@440:-6:-12;out=Speakers|Headset"
export XDG_CONFIG_HOME="$work/config"
"$usr/bin/tessaline-devices" >"$work/devices.log" 2>&1 || fail "tessaline-devices: $(cat "$work/devices.log")"
grep -qxF "Output Drivers: 2" "$work/devices.log" || fail "tessaline-devices: $(cat "$work/devices.log")"
# A command on the PATH finds the codec module in the program's folder.
mp3="$root/tests/fixtures/mpeg_layer3/mpeg1_32000_stereo.wav"
"$usr/bin/tessaline-decode" "$mp3" "$work/decoded.wav" >"$work/decode.log" 2>&1 ||
  fail "tessaline-decode: $(cat "$work/decode.log")"
grep -q "MPEG Layer-3 2 ch 32000 Hz -> PCM 16 bit 2 ch 32000 Hz" "$work/decode.log" ||
  fail "tessaline-decode: $(cat "$work/decode.log")"

# The desktop's opener is replaced by one that writes down what it is given.
mkdir -p "$work/opener"
cat >"$work/opener/xdg-open" <<SCRIPT
#!/bin/sh
printf '%s' "\$1" >"$work/opened.tmp" && mv "$work/opened.tmp" "$work/opened"
SCRIPT
chmod +x "$work/opener/xdg-open"
start_xvfb 1600x1000x24
PATH="$work/opener:$PATH" start_program "$work/out.log" "$usr/bin/$(field Exec)"
wait_for 60 window_id "$INFO_WINDOW" || fail "no info window"
# The web link ("Documentation") at (332, 129).
click_until $((332 + 30)) $((129 + 8)) 30 test -f "$work/opened" || fail "the web link opened nothing"
want="file://$usr/share/doc/tessaline/README.md"
[ "$(cat "$work/opened")" = "$want" ] || fail "the web link opened $(cat "$work/opened"), not $want"

end_program "$work/out.log"

# Removed, it leaves nothing behind but dpkg's own records.
dpkg_root --remove tessaline || fail "dpkg --remove failed: $(tail -n 20 "$work/dpkg.log")"
left=$(cd "$pkgroot" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
[ -z "$left" ] || fail "left after removal: $left"
echo "package: ok ($(basename "$deb"), $(du -k "$deb" | cut -f1) kB)"
