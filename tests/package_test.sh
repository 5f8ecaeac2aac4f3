#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a scratch root and runs the
# installed tool once against the bundled simulator; lintian must find no error in it.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/vt_package.XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/pkg/*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libmodbus5' || fail "no dependency on libmodbus5"
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
for f in usr/bin/veltrona_tool usr/bin/veltrona_sim; do
  [ -x "$root/$f" ] || fail "$f missing"
done
for page in veltrona_tool veltrona_sim; do
  f=$root/usr/share/man/man1/$page.1.gz
  [ -f "$f" ] || fail "man page $page.1.gz missing"
  # The page renders, and without a warning from the formatter.
  warnings=$(man --warnings -l "$f" 2>&1 >/dev/null) || fail "man $page failed"
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
  man -l "$f" 2>/dev/null | grep -q "^NAME" || fail "man $page shows no NAME section"
done
for f in usr/share/doc/veltrona-tool/copyright usr/share/doc/veltrona-tool/changelog.gz \
         usr/lib/systemd/catalog/veltrona_tool.catalog; do
  [ -f "$root/$f" ] || fail "$f missing"
done
# Both journal message ids are explained by the catalog.
for id in 582a3203c2ec4f4d95b59141e2f9275a 972b2dfecc5c4eecb953ca80c1f0abb4; do
  grep -q "^-- $id\$" "$root/usr/lib/systemd/catalog/veltrona_tool.catalog" || fail "catalog lacks $id"
done
[ "$(dpkg-deb -f "$deb" Depends | grep -o 'libmodbus5' | wc -l)" = 1 ] ||
  fail "libmodbus5 not named exactly once: $(dpkg-deb -f "$deb" Depends)"
version=$("$root/usr/bin/veltrona_tool" --version)
[ "$version" = "veltrona_tool $(dpkg-deb -f "$deb" Version)" ] || fail "--version says: $version"
[ -f "$root/usr/share/doc/veltrona-tool/veltrona_tool.conf.example" ] || fail "example missing"

"$root/usr/bin/veltrona_sim" --port 0 --port-file "$scratch/port" >"$scratch/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do
  [ -s "$scratch/port" ] && break
  sleep 0.05
done
[ -s "$scratch/port" ] || fail "the simulator did not start"
port=$(cat "$scratch/port")

mkdir "$scratch/work"
cp "$root/usr/share/doc/veltrona-tool/veltrona_tool.conf.example" "$scratch/work/veltrona_tool.conf"
sed -i "s/^iPort = .*/iPort = $port/" "$scratch/work/veltrona_tool.conf"
# The write log goes to the scratch directory, not to the home of whoever runs the test.
out=$(cd "$scratch/work" && printf 'READ 5120\nq\n' |
      XDG_STATE_HOME="$scratch/state" VELTRONA_TOOL_NO_JOURNAL=1 timeout 20 "$root/usr/bin/veltrona_tool")
expected="Connect to 127.0.0.1:$port is OK.
>> MB_STATE_SET (5120, WORD)"
[ "${out:0:${#expected}}" = "$expected" ] || fail "unexpected output: $out"
[ "$(printf '%s\n' "$out" | tail -n 1)" = ">> Exit." ] || fail "no Exit.: $out"
lintian "$deb" >"$scratch/lintian.log" 2>&1 || true
if grep -q '^E: ' "$scratch/lintian.log"; then
  cat "$scratch/lintian.log" >&2
  fail "lintian found errors"
fi
echo "package_test: OK"
