#!/bin/sh
# Checks how libveltrane.so finds the outside libraries: by import (NEEDED),
# through RUNPATH (which LD_LIBRARY_PATH overrides, unlike RPATH), and that a
# library of the same name first on LD_LIBRARY_PATH is the one used.
# Usage: check_linkage.sh LIBVELTRANE CLIENT STANDIN_DIR OTHER_DIR
set -u
lib=$1 client=$2 standins=$3 other=$4
status=0
fail() { echo "FAIL: $*"; status=1; }

dynamic=$(readelf -d "$lib")
for needed in libitg.so libquote.so; do
  echo "$dynamic" | grep -q "(NEEDED).*\[$needed\]" || fail "$lib does not import $needed"
done
echo "$dynamic" | grep -q '(RUNPATH)' || fail "$lib has no RUNPATH"
echo "$dynamic" | grep -q '(RPATH)' && fail "$lib has an RPATH, which LD_LIBRARY_PATH cannot override"

# Checks that the client's output ($1) names both libraries, loaded from $2.
expect_loaded_from() {
  [ "$(echo "$1" | grep -c '^gateway library: ')" = 2 ] || fail "client did not load both libraries"
  dirs=$(echo "$1" | sed -n 's|^gateway library: \(.*\)/lib[a-z]*\.so$|\1|p' | sort -u)
  [ "$dirs" = "$2" ] || fail "loaded from '$dirs', not '$2'"
}

# The stand-ins export the vendor's interface only.
for standin in "$standins/libitg.so" "$standins/libquote.so"; do
  extra=$(nm -D --defined-only "$standin" | awk '{ print $3 }' |
    grep -v -e '^LibITG_' -e '^Set_CallbackInterface$' -e '^LibQuote_' -e '^Set_QCallbackInterface$')
  [ -z "$extra" ] || fail "$standin exports more than the interface: $extra"
done

expect_loaded_from "$(unset LD_LIBRARY_PATH; "$client")" "$standins"
expect_loaded_from "$(LD_LIBRARY_PATH="$other" "$client")" "$other"

[ $status = 0 ] && echo "libveltrane.so imports both libraries through RUNPATH; LD_LIBRARY_PATH replaces them"
exit $status
