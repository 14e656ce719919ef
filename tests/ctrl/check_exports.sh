#!/usr/bin/env bash
# check_exports.sh OBJDUMP TRANSMIT CTRL: each plug-in exports exactly its entry names, and
# neither module lists the other among the libraries it needs.
set -uo pipefail
objdump=$1 transmit=$2 ctrl=$3
fail=0

exports_of() {
  local headers
  headers=$("$objdump" -p "$1")
  if grep -q "Export Address Table" <<<"$headers"; then
    # PE: the name-pointer table lists "[ordinal] name".
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
      grep -oE '^\s*\[ *[0-9]+\] [A-Za-z_][A-Za-z0-9_]*' | sed 's/.*\] //' | sort
  else
    nm -D --defined-only "$1" | awk '$2 ~ /[TtWiDB]/ {print $3}' | sort
  fi
}

needs_of() {
  "$objdump" -p "$1" | grep -E 'NEEDED|DLL Name' | awk '{print $NF}'
}

expect() {
  local module=$1; shift
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$(exports_of "$module")
  if [ "$got" != "$want" ]; then
    echo "FAIL: $(basename "$module") exports:"; echo "$got"; echo "expected:"; echo "$want"
    fail=1
  else
    echo "ok: $(basename "$module") exports exactly: $(echo $want)"
  fi
}

expect "$transmit" xTransmitEntry sv_transmit_publish_playback_state
expect "$ctrl" EntryPoint sv_ctrl_bridge_get
if needs_of "$transmit" | grep -qi 'SorvaneCtrl'; then echo "FAIL: Sorvane links SorvaneCtrl"; fail=1; fi
if needs_of "$ctrl" | grep -qi 'Sorvane\.prm'; then echo "FAIL: SorvaneCtrl links Sorvane"; fail=1; fi
[ $fail -eq 0 ] && echo "exports check passed"
exit $fail
