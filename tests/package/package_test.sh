#!/usr/bin/env bash
# Checks the Windows package that scripts/package writes, as a user gets it: exactly the expected
# files, stripped plug-ins that still export their entry points and import nothing but Windows'
# own DLLs, debug files that match, the project version in both version resources, and a 64-bit
# setup program of that version whose checksum, like the zip's, is in SHA256SUMS.
# The package comes from $SV_PACKAGE_OUT when set, else this test builds one.
set -uo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
ok() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failures=$((failures + 1)); echo "FAIL $1"; }

out="${SV_PACKAGE_OUT:-}"
if [ -z "$out" ]; then
  out="$work/out"
  "$root/scripts/package" --out "$out" >"$work/package.txt" 2>&1 || { cat "$work/package.txt"; exit 1; }
fi
# The checks below pipe long listings into grep -q, which may close the pipe early.
set +o pipefail
version=$(sed -n 's/^project(Sorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip="$out/Sorvane-$version-win64.zip"
[ -f "$zip" ] && ok "zip named after the project version $version" || { fail "no $zip"; ls "$out"; exit 1; }

expected="Sorvane-$version-win64/INSTALL.txt
Sorvane-$version-win64/Sorvane.prm
Sorvane-$version-win64/SorvaneCtrl.acsrf
Sorvane-$version-win64/licenses/NOTICE.txt
Sorvane-$version-win64/licenses/gcc-runtime.txt
Sorvane-$version-win64/licenses/mingw-w64-runtime.txt"
listed=$(python3 -c "import sys,zipfile; print('\n'.join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))" "$zip")
[ "$listed" = "$expected" ] && ok "exactly the expected files" || { fail "zip holds:"; echo "$listed"; }
python3 -c "import sys,zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$zip" "$work/x"
dir="$work/x/Sorvane-$version-win64"
grep -q "Sorvane $version" "$dir/INSTALL.txt" && grep -q "Removing" "$dir/INSTALL.txt" &&
  grep -q "crashes" "$dir/INSTALL.txt" && grep -q "six-digit code" "$dir/INSTALL.txt" &&
  grep -q "Sorvane-$version-setup.exe" "$dir/INSTALL.txt" && grep -q "not signed" "$dir/INSTALL.txt" &&
  grep -q "SHA256SUMS" "$dir/INSTALL.txt" &&
  ok "INSTALL.txt: version, setup program (unsigned, checksums), removal, files kept, pairing" ||
  fail "INSTALL.txt incomplete"

# Windows' own DLLs (and the API sets that stand for parts of them).
system='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|ws2_32|iphlpapi|dnsapi|bcrypt|rpcrt4|dbghelp|msvcrt|ucrtbase|comctl32|comdlg32|shlwapi|uxtheme|dwmapi|gdiplus|mfplat|mf|mfreadwrite|mfuuid|evr|d3d11|dxgi|d3dcompiler_47|propsys|version|winmm|crypt32|secur32|ntdll|api-ms-win-.*)\.dll$'
objdump=x86_64-w64-mingw32-objdump
for file in Sorvane.prm SorvaneCtrl.acsrf; do
  dll="$dir/$file"
  size=$(stat -c %s "$dll")
  [ "$size" -lt 4194304 ] && ok "$file: $size bytes (under 4 MB)" || fail "$file: $size bytes"
  if $objdump -h "$dll" | grep -q "\.debug_"; then fail "$file still has debug sections"; else ok "$file stripped"; fi
  [ -s "$out/$file.debug" ] && $objdump -h "$out/$file.debug" | grep -q "\.debug_info" &&
    $objdump -h "$dll" | grep -q "gnu_debuglink" && ok "$file: debug information beside the zip, linked" ||
    fail "$file: no usable $file.debug"
  exports=$($objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&NF==0{t=0} t{print $NF}' | sort)
  built=$($objdump -p "$root/build/package/plugins/$file" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&NF==0{t=0} t{print $NF}' | sort)
  [ "$exports" = "$built" ] && ok "$file exports its entry points (${exports//$'\n'/ })" || fail "$file exports differ: $exports"
  imports=$($objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  foreign=$(echo "$imports" | grep -Ev "$system")
  [ -n "$imports" ] && [ -z "$foreign" ] && ok "$file imports only Windows DLLs" || fail "$file imports: $foreign"
  rc=$(x86_64-w64-mingw32-windres -i "$dll" -O rc 2>/dev/null)
  echo "$rc" | grep -q "VALUE \"FileVersion\", \"$version\"" &&
    echo "$rc" | grep -q "VALUE \"ProductVersion\", \"$version\"" &&
    echo "$rc" | grep -q "FILEVERSION ${version//./, }, 0" &&
    echo "$rc" | grep -q "VALUE \"OriginalFilename\", \"$file\"" &&
    ok "$file version resource says $version" || { fail "$file version resource"; echo "$rc"; }
done
$objdump -p "$dir/Sorvane.prm" | grep -q "xTransmitEntry" && ok "Sorvane.prm exports xTransmitEntry" || fail "xTransmitEntry missing"

setup="$out/Sorvane-$version-setup.exe"
if [ -f "$setup" ]; then
  size=$(stat -c %s "$setup")
  [ "$size" -lt 4194304 ] && ok "setup program: $size bytes (under 4 MB)" || fail "setup program: $size bytes"
  file "$setup" | grep -q "PE32+ executable (GUI) x86-64" && ok "setup program is a 64-bit Windows program" ||
    fail "setup program: $(file -b "$setup")"
  x86_64-w64-mingw32-windres -i "$setup" -O rc 2>/dev/null | grep -q "VALUE \"ProductVersion\", \"$version\"" &&
    ok "setup program's version resource says $version" || fail "setup program's version resource"
else
  fail "no $setup"
fi
sums=$(cut -d' ' -f3 "$out/SHA256SUMS" 2>/dev/null | sort | tr '\n' ' ')
[ "$sums" = "$(basename "$setup") $(basename "$zip") " ] && (cd "$out" && sha256sum --quiet -c SHA256SUMS) &&
  ok "SHA256SUMS holds the zip and the setup program, and they match" || fail "SHA256SUMS: $sums"

echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
