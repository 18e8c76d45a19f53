#!/usr/bin/env bash
# Builds the Debian package from a finished build, lists its files and checks
# the expected ones are there with the expected control data; checks
# kavrin.service with systemd-analyze verify, and that every option a
# program's --help names is in its man page.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/out/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$scratch/files"
echo "Files in $(basename "$deb"):"
cat "$scratch/files"

expected=(
  /usr/bin/kavrin /usr/bin/mirelo /usr/bin/termsim /usr/bin/mirelo-regsvr
  /usr/lib/libmirelo.so /usr/lib/libmirelo-runtime.so /usr/include/mirelo/vistel.h
  /usr/include/mirelo/platform/message_loop.h /usr/lib/cmake/Mirelo/MireloConfig.cmake
  /usr/lib/cmake/Mirelo/MireloTargets.cmake /usr/lib/pkgconfig/mirelo.pc
  /usr/share/man/man1/mirelo.1 /usr/share/man/man1/termsim.1 /usr/share/man/man8/kavrin.8
  /usr/lib/systemd/system/kavrin.service /usr/lib/sysusers.d/mirelo-kavrin.conf
  /etc/mirelo/kavrin.conf /etc/mirelo/kavrin.ini /etc/mirelo/pg_service.conf /etc/mirelo/prices.txt
)
for file in "${expected[@]}"; do
  grep -qx -- "$file" "$scratch/files" || grep -Eqx -- "$file\.[0-9.]+" "$scratch/files" || fail "$file is not in the package"
done
if grep -q '^/usr/local\|^/tmp\|/build/' "$scratch/files"; then fail "paths of the build machine in the package"; fi

dpkg-deb -I "$deb" >"$scratch/control"
grep -q '^ Package: mirelo$' "$scratch/control" || fail "package name"
grep -q '^ Depends:.*libpq5' "$scratch/control" || fail "no dependency on libpq5"
for conffile in kavrin.conf kavrin.ini pg_service.conf prices.txt; do
  dpkg-deb -I "$deb" conffiles | grep -qx "/etc/mirelo/$conffile" || fail "$conffile is not a conffile"
done
dpkg-deb -I "$deb" postinst | grep -q systemd-sysusers || fail "postinst makes no user"

# The unit as packaged: paths of the package, verified against the package's
# own tree.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
unit="$root/usr/lib/systemd/system/kavrin.service"
grep -qx 'ExecStart=/usr/bin/kavrin --headless --settings /etc/mirelo/kavrin.ini $KAVRIN_OPTIONS' "$unit" ||
  fail "ExecStart: $(grep ExecStart= "$unit")"
grep -q '^KAVRIN_OPTIONS=--prices /etc/mirelo/prices.txt$' "$root/etc/mirelo/kavrin.conf" || fail "kavrin.conf"
# The packaged programs find their libraries (the driver library too).
"$root/usr/bin/kavrin" --help | grep -q -- --prices-db || fail "the packaged kavrin does not run"
MIRELO_REGISTRY="$scratch/registry.db" MIRELO_LOOPBACK_ONLY=1 "$root/usr/bin/mirelo" run ServerPort |
  grep -qx ServerPort=2004 || fail "the packaged mirelo cannot create the driver object"

# systemd-analyze verify on the unit as packaged, its program and man page
# taken from the package's tree instead of /usr.
sed "s|/usr/bin/kavrin|$root/usr/bin/kavrin|" "$unit" >"$scratch/kavrin.service"
MANPATH="$root/usr/share/man" SYSTEMD_LOG_LEVEL=notice systemd-analyze verify "$scratch/kavrin.service" \
  >"$scratch/verify" 2>&1 || { cat "$scratch/verify"; fail "systemd-analyze verify"; }
if grep 'kavrin.service' "$scratch/verify"; then fail "systemd-analyze verify complains"; fi

# Every option in a program's --help is in its man page.
check_options() {
  local page=$1
  shift
  local option
  for option in $("$@" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    sed 's/\\-/-/g' "$page" | grep -q -- "$option" || fail "$(basename "$page") lacks $option"
  done
}
check_options "$source/docs/man/kavrin.8" "$build/responder/kavrin"
check_options "$source/docs/man/mirelo.1" "$build/tools/mirelo/mirelo"
check_options "$source/docs/man/termsim.1" "$build/tools/termsim/termsim"
echo "package and unit: ok"
