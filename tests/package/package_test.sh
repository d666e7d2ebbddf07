#!/usr/bin/env bash
# The Debian package, installed as a user installs it: cpack makes
# quon-host_VERSION_amd64.deb from the build folder; mmdebstrap builds a
# fresh Debian 12 root of the essential packages from the machine's own apt
# sources and installs the package there with apt (which brings in the
# libraries it depends on; dpkg without fsync, to keep the test short);
# then, in that root, `quon-host --version`, `check` on the sample wall and
# `serve` on it for three seconds, ended by SIGINT.
#
#   tests/package/package_test.sh BUILD_DIR CACHE_DIR
#
# CACHE_DIR keeps the downloaded Debian packages and apt's package lists
# between runs, so that only the first run on a machine downloads them
# (later ones ask the sources only whether the lists changed). Exit: 0 passed, 1 failed, 77
# skipped (not root, no mmdebstrap or dpkg-shlibdeps, no apt source
# reachable), with the reason on standard output.
set -euo pipefail
build=$(realpath "$1")
cache=$(realpath -m "$2")
skip() { echo "package test skipped: $*"; exit 77; }
fail() { echo "package test FAILED: $*"; exit 1; }

[ "$(id -u)" = 0 ] || skip "it runs as root (mmdebstrap's root mode, chroot)"
command -v mmdebstrap >/dev/null || skip "no mmdebstrap (tools/install-deps tests)"
command -v dpkg-shlibdeps >/dev/null || skip "no dpkg-shlibdeps (dpkg-dev; tools/install-deps tests)"
[ -d /usr/share/mmdebstrap/hooks/file-mirror-automount ] || skip "mmdebstrap has no file-mirror-automount hook"

work=$(mktemp -d /tmp/quon-package-XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT

# The package.
start=$SECONDS
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/package/quon-host_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || { ls "$work/package"; fail "no quon-host_VERSION_amd64.deb"; }
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes) in $((SECONDS - start)) s"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/quon-host ./usr/lib/quon-host/Korvane.so ./usr/lib/quon-host/libquon_string.so \
            ./usr/share/man/man1/quon-host.1.gz ./usr/share/man/man1/quon-host-serve.1.gz \
            ./usr/lib/systemd/system/quon-host.service \
            ./usr/share/doc/quon-host/serve.md ./usr/share/quon-host/examples/walls/studio.toml; do
  grep -qx -- "$path" <<<"$contents" || fail "the package has no $path"
done
if grep -q '^\./usr/lib/[^/]*\.so' <<<"$contents"; then fail "a library in the system's own folder /usr/lib"; fi
# Where the build used a Unicorn of its own (the system's older than 2.1),
# the package carries it beside the module, with its licence.
if [ -n "$(ls "$build"/lib/quon-host/libunicorn.so.* 2>/dev/null)" ]; then
  for path in ./usr/lib/quon-host/libunicorn.so.2 ./usr/share/doc/quon-host/unicorn/copyright; do
    grep -qx -- "$path" <<<"$contents" || fail "the package has no $path (the build's own Unicorn)"
  done
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: Depends: $depends"
[ -n "$depends" ] || fail "the package depends on nothing (dpkg-shlibdeps found no libraries)"

# The machine's own apt sources (deb822 or one-line), as mmdebstrap's mirror.
sources=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | grep -v '^#' || true)
[ -n "$sources" ] || skip "the machine has no apt sources"

# What runs inside the fresh root, as a user would.
cat >"$work/inside.sh" <<'INSIDE'
set -eux
echo "inside: $(. /etc/os-release; echo "$PRETTY_NAME")"
quon-host --version
quon-host --version | grep -E '^Windows modules: Unicorn 2\.([1-9]|[1-9][0-9])\.'
# The module finds the string library in the host's own folder (what ldd
# would show; ldd itself is in libc-dev-bin, which a plain root has not).
/lib64/ld-linux-x86-64.so.2 --list /usr/lib/quon-host/Korvane.so | grep -F '=> /usr/lib/quon-host/libquon_string.so'
if /lib64/ld-linux-x86-64.so.2 --list /usr/lib/quon-host/Korvane.so | grep 'not found'; then exit 1; fi
quon-host check /usr/share/quon-host/examples/walls/studio.toml
grep -x 'ExecStartPre=/usr/bin/quon-host check /etc/quon-host/wall.toml' /usr/lib/systemd/system/quon-host.service
grep -x 'WatchdogSec=30s' /usr/lib/systemd/system/quon-host.service
cd /tmp
status=0
timeout --preserve-status -s INT 3 quon-host serve /usr/share/quon-host/examples/walls/studio.toml >serve.out 2>serve.err || status=$?
cat serve.out serve.err
[ "$status" = 0 ] || { echo "serve ended with $status"; exit 1; }
grep -q 'mon1: ' serve.out || { echo "serve showed no display"; exit 1; }
echo "inside: passed"
INSIDE
cp "$work/inside.sh" "$work/package/"
chmod 644 "$deb" "$work/package/inside.sh"

mkdir -p "$cache/archives" "$cache/lists"
start=$SECONDS
status=0
printf '%s\n' "$sources" | mmdebstrap --mode=root --variant=essential --skip=essential/unlink \
  --dpkgopt=force-unsafe-io \
  --include="$deb" --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
  --setup-hook="mkdir -p \"\$1\"/var/cache/apt/archives/ \"\$1\"/var/lib/apt/lists/" \
  --setup-hook="sync-in $cache/archives /var/cache/apt/archives/" \
  --setup-hook="sync-in $cache/lists /var/lib/apt/lists/" \
  --customize-hook="sync-out /var/cache/apt/archives $cache/archives" \
  --customize-hook="sync-out /var/lib/apt/lists $cache/lists" \
  --customize-hook="copy-in $work/package/inside.sh /tmp" \
  --customize-hook='chroot "$1" sh /tmp/inside.sh' \
  bookworm /dev/null - >"$work/mmdebstrap.log" 2>&1 || status=$?
echo "root: built, package installed and run in $((SECONDS - start)) s"
if [ "$status" != 0 ]; then
  if grep -qE "Temporary failure resolving|Could not resolve|Could not connect|Failed to fetch|Network is unreachable" \
      "$work/mmdebstrap.log"; then
    grep -E "Temporary failure resolving|Could not resolve|Could not connect|Failed to fetch|Network is unreachable" \
      "$work/mmdebstrap.log" | head -3
    skip "the apt sources cannot be reached, so no Debian 12 root can be built"
  fi
  cat "$work/mmdebstrap.log"
  fail "mmdebstrap, or the checks inside the root"
fi
grep -E '^(inside|quon-host [0-9]|/usr/share/quon-host/examples/walls/studio.toml: |mon1: )' "$work/mmdebstrap.log"
grep -q '^inside: passed$' "$work/mmdebstrap.log" || { cat "$work/mmdebstrap.log"; fail "the checks inside the root did not run"; }
echo "package test passed"
