#!/usr/bin/env bash
# The Windows setup program as a user runs it, under Wine in a prefix of its own: a silent install
# puts both plug-ins into the shared plug-in folder with an uninstall entry, and sv-host.exe
# streams through the *installed* plug-in to the Linux receiver; the same and a newer version
# upgrade in place, an older one and a running host are refused; the firewall rule is asked of
# netsh and its failure does not stop the install; the uninstaller removes everything but the
# user's identity, which /PURGE forgets too.
# Usage: installer_test.sh SOURCE_ROOT HOST_EXE RECEIVER
# The package comes from $SV_PACKAGE_OUT when set, else this test builds one.
set -uo pipefail
root="$1" hostExe="$2" receiver="$3"
source "$root/tests/e2e/lib.sh"
for needed in "$hostExe" "$receiver"; do
  [ -x "$needed" ] || { echo "FAIL $needed is not built (build the linux and windows-cross presets first)"; exit 1; }
done
e2e_init
work="$E2E_WORK"
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; e2e_cleanup' EXIT
# check GROUP DESCRIPTION COMMAND...: one result line; the command's own output only on failure.
check() {
  local group="$1" what="$2" output
  shift 2
  if output=$("$@" 2>&1); then
    e2e_pass "$group: $what"
  else
    e2e_fail "$group: $what"
    [ -n "$output" ] && echo "$output" | sed 's/^/     /'
  fi
}
equal() { [ "$1" = "$2" ] || { echo "expected \"$2\", got \"$1\""; return 1; }; }

version=$(sed -n 's/^project(Sorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
out="${SV_PACKAGE_OUT:-}"
if [ -z "$out" ]; then
  out="$work/out"
  "$root/scripts/package" --out "$out" >"$work/package.txt" 2>&1 || { cat "$work/package.txt"; exit 1; }
fi
setup="$out/Sorvane-$version-setup.exe"
[ -f "$setup" ] || { echo "FAIL no $setup"; ls "$out"; exit 1; }
python3 -c "import sys,zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" \
  "$out/Sorvane-$version-win64.zip" "$work/zip" || exit 1
packaged="$work/zip/Sorvane-$version-win64"

# A prefix of its own, so the machine-wide changes of one run never meet another test's.
export WINEPREFIX="$work/prefix" SORVANE_WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;netsh.exe=n"
wineboot -i >/dev/null 2>&1 && wineserver -w || { echo "FAIL could not create a Wine prefix"; exit 1; }
x86_64-w64-mingw32-gcc -municode -O2 -o "$work/fake_host.exe" "$root/tests/package/fake_host_win.c" &&
  x86_64-w64-mingw32-gcc -municode -O2 -o "$work/fake_netsh.exe" "$root/tests/package/fake_netsh_win.c" ||
  { echo "FAIL could not build the stand-in programs"; exit 1; }
# Wine's own netsh answers 0 to everything without a firewall behind it.
cp "$work/fake_netsh.exe" "$WINEPREFIX/drive_c/windows/system32/netsh.exe"
export SV_FAKE_NETSH_LOG="$work/netsh.log"
touch "$SV_FAKE_NETSH_LOG"

win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
pluginsWin='C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore'
plugins=$(unix_path "$pluginsWin")
appDir=$(unix_path 'C:\Program Files\Sorvane')
userData="$(unix_path "$(win cmd /c echo %APPDATA%)")/Sorvane"
uninstallKeys='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key="$uninstallKeys\\Sorvane"
reg_value() { win reg query "$key" /v "$1" | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }
exits_with() { # EXPECTED COMMAND...
  local expected="$1" code
  shift
  "$@" >/dev/null
  code=$?
  equal "$code" "$expected"
}
same_plugins() { # DIR: both plug-ins there, byte for byte the packaged ones
  cmp "$1/Sorvane.prm" "$packaged/Sorvane.prm" && cmp "$1/SorvaneCtrl.acsrf" "$packaged/SorvaneCtrl.acsrf"
}
no_plugins() { [ ! -e "$1/Sorvane.prm" ] && [ ! -e "$1/SorvaneCtrl.acsrf" ] || { ls "$1"; return 1; }; }

# --- install
check install "silent install exits 0" exits_with 0 win "$setup" /S
check install "both plug-ins in the shared plug-in folder, as packaged" same_plugins "$plugins"
entry_names_version() {
  equal "$(reg_value DisplayName) $(reg_value DisplayVersion) $(reg_value Publisher)" "Sorvane $1 Sorvane"
}
check install "uninstall entry: Sorvane $version by Sorvane" entry_names_version "$version"
entry_uninstalls() {
  equal "$(reg_value UninstallString)" '"C:\Program Files\Sorvane\uninstall.exe"' &&
    equal "$(reg_value QuietUninstallString)" '"C:\Program Files\Sorvane\uninstall.exe" /S' &&
    [ -f "$appDir/uninstall.exe" ] && [ $(($(reg_value EstimatedSize))) -gt 100 ]
}
check install "uninstall entry: uninstall and quiet-uninstall commands, size in KB" entry_uninstalls
notes_installed() { diff -r "$packaged/licenses" "$appDir/licenses" && cmp "$packaged/INSTALL.txt" "$appDir/INSTALL.txt"; }
check install "notes and licences beside the uninstaller" notes_installed
check install "firewall rule asked of netsh: inbound TCP 47100-47130, private networks" grep -qx \
  "advfirewall firewall add rule name=Sorvane dir=in action=allow protocol=TCP localport=47100-47130 profile=private" \
  "$SV_FAKE_NETSH_LOG"

# --- the installed plug-in streams (sv-host.exe counts as an unknown host: control port 47130).
# The host is given the installed file through Wine's Z: drive (the shared library's way of
# naming plug-ins); it pushes long enough for a slow start under Wine on a loaded machine.
e2e_start_host stream "$hostExe" "$plugins/Sorvane.prm" --test-encoder sync --size 480x270 --fps 10 \
  --seconds 20
e2e_wait_listener
e2e_receive stream "$receiver" 8
e2e_wait_host
e2e_check stream "sv-host.exe runs the installed Sorvane.prm; the receiver pairs and decodes" \
  "s['pairing'] == 'accepted with code' and v['framesDecoded'] >= 30"

# --- upgrades
echo "damaged" >>"$plugins/Sorvane.prm"
calls=$(wc -l <"$SV_FAKE_NETSH_LOG")
check upgrade "the same version again exits 0 although netsh refuses the rule" \
  exits_with 0 env SV_FAKE_NETSH_EXIT=1 wine "$setup" /S
check upgrade "the same version replaced the plug-ins" same_plugins "$plugins"
check upgrade "the refused firewall rule is in the install log" \
  grep -q "rule Sorvane could not be added (netsh: 1)" "$appDir/install.log"
rule_replaced() { equal "$(tail -n +$((calls + 1)) "$SV_FAKE_NETSH_LOG" | cut -d' ' -f3 | tr '\n' ' ')" "delete add "; }
check upgrade "the old firewall rule is deleted before the new one is added" rule_replaced
newer="${version%.*}.$((${version##*.} + 1))"
newerSetup="$work/newer/Sorvane-$newer-setup.exe"
"$root/scripts/package-files/make-installer" --stage "$packaged" --version "$newer" --out "$newerSetup" >/dev/null
check upgrade "a newer version ($newer) installs over it" exits_with 0 win "$newerSetup" /S
one_entry() {
  equal "$(win reg query "$uninstallKeys" | grep -ci 'Uninstall\\Sorvane$')" 1 && entry_names_version "$1"
}
check upgrade "one uninstall entry, now for $newer" one_entry "$newer"
check upgrade "the older version ($version) is refused with exit code 3" exits_with 3 win "$setup" /S
check upgrade "the refused older version left $newer in place" one_entry "$newer"
# /D= takes the rest of the command line unquoted, spaces and all: cmd passes it on as it stands.
otherWin='C:\Host Plug-ins'
check upgrade "/D= installs into another folder" \
  exits_with 0 win cmd /c "$(sv_windows_path "$newerSetup") /S /D=$otherWin"
moved() { same_plugins "$(unix_path "$otherWin")" && no_plugins "$plugins" && equal "$(reg_value PluginFolder)" "$otherWin"; }
check upgrade "... and takes the plug-ins out of the old one" moved
check upgrade "the next install goes to the folder chosen last" eval 'exits_with 0 win "$newerSetup" /S && moved'
pluginsWin="$otherWin"
plugins=$(unix_path "$pluginsWin")

# --- a running host (by its exact executable name) stops the setup and the uninstaller
fake_host() { # NAME [HELD_FILE]: starts the stand-in under that name and waits until it runs
  local name="$1" ready="$work/$1.ready"
  shift
  rm -f "$ready" "$work/stop"
  cp "$work/fake_host.exe" "$work/$name"
  wine "$work/$name" "$(sv_windows_path "$ready")" "$(sv_windows_path "$work/stop")" "$@" \
    </dev/null >/dev/null 2>&1 &
  for _ in $(seq 300); do [ -f "$ready" ] && return 0; sleep 0.1; done
  echo "FAIL the stand-in $name did not start"
}
stop_fake_host() { touch "$work/stop"; wait; }
for name in "Adobe Premiere Pro.exe" "AfterFX.exe" "Adobe Media Encoder.exe" "ame.exe"; do
  fake_host "$name"
  check host "setup exits 2 while $name runs" exits_with 2 win "$newerSetup" /S
  stop_fake_host
done
# In place (_?=, unquoted and last, as the uninstaller reads it), so that its exit code is seen.
printf '"C:\\Program Files\\Sorvane\\uninstall.exe" /S _?=C:\\Program Files\\Sorvane\r\nexit /b %%errorlevel%%\r\n' \
  >"$work/uninstall-in-place.bat"
uninstall_refused() { exits_with 2 win cmd /c "$(sv_windows_path "$work/uninstall-in-place.bat")" && same_plugins "$plugins"; }
fake_host "AfterFX.exe"
check host "uninstaller exits 2 while a host runs, and removes nothing" uninstall_refused
stop_fake_host
# "ame" is part of this name, but it is another program. It holds the plug-in open as a host
# would, so the setup gets past the host check and must then fail to write the file.
fake_host "game.exe" "$pluginsWin\\Sorvane.prm"
check host "game.exe is no host; a plug-in held open fails the setup with exit code 4" \
  exits_with 4 win "$newerSetup" /S
stop_fake_host

# --- uninstall, as Apps & features runs it: the uninstaller copies itself away and returns
# The identity and trusted phones the streaming run wrote, as if the plug-in had run for this user.
mkdir -p "$userData" && cp -r "$E2E_PROFILE/roaming/Sorvane/." "$userData/" || echo '{}' >"$userData/install.json"
kept=$(ls "$userData")
uninstall() { win "$appDir/uninstall.exe" /S "$@" && wineserver -w; }
check uninstall "silent uninstall runs" uninstall
all_gone() { no_plugins "$plugins" && [ ! -e "$appDir" ] && ! win reg query "$key" >/dev/null; }
check uninstall "plug-ins, uninstaller, notes and uninstall entry are gone" all_gone
check uninstall "firewall rule deleted" \
  equal "$(tail -1 "$SV_FAKE_NETSH_LOG")" "advfirewall firewall delete rule name=Sorvane"
check uninstall "the user's identity and paired phones are kept (${kept//$'\n'/ })" \
  eval '[ -n "$kept" ] && equal "$(ls "$userData")" "$kept"'
win "$newerSetup" /S >/dev/null
check uninstall "/PURGE also forgets the user's identity and paired phones" \
  eval 'uninstall /PURGE && all_gone && [ ! -e "$userData" ]'

e2e_finish
