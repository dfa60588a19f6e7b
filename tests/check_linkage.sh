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

# Prints the directories the client loaded the two libraries from.
loaded() { "$client" | sed -n 's|^gateway library: \(.*\)/lib[a-z]*\.so$|\1|p' | sort -u; }

by_default=$(unset LD_LIBRARY_PATH; loaded)
[ "$by_default" = "$standins" ] || fail "without LD_LIBRARY_PATH loaded from '$by_default', not '$standins'"
swapped=$(LD_LIBRARY_PATH="$other" loaded)
[ "$swapped" = "$other" ] || fail "with LD_LIBRARY_PATH=$other loaded from '$swapped'"
[ "$(LD_LIBRARY_PATH="$other" "$client" | grep -c '^gateway library: ')" = 2 ] || fail "client did not load both libraries"

[ $status = 0 ] && echo "libveltrane.so imports both libraries through RUNPATH; LD_LIBRARY_PATH replaces them"
exit $status
