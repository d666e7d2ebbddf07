#!/usr/bin/env bash
# The kit installed and used from outside the tree:
#
#   tests/kit/kit_test.sh BUILD_DIR QUON_HOST TEMPLATE_DIR CXX
#
# installs the install component `kit` of BUILD_DIR into a temporary
# prefix; copies the template in TEMPLATE_DIR, as a developer starts, and
# builds it there with CMake (find_package, warnings as errors) and with
# pkg-config; runs the template's scenario with both modules, `validate` on
# the first, and `check` and `serve` (until SIGINT) on its wall. Exit 0
# passed, 1 failed.
set -euo pipefail
build=$(realpath "$1")
host=$(realpath "$2")
template=$(realpath "$3")
cxx=$4
fail() { echo "kit test FAILED: $*"; exit 1; }

work=$(mktemp -d /tmp/quon-kit-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --component kit --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install --component kit"; }
for path in include/quon-script/quon/script/quon_script_helper.h include/quon-script/quon_records.h \
            lib/libquon_script_helper.a lib/quon-host/libquon_string.so \
            lib/cmake/QuonScript/QuonScriptConfig.cmake lib/pkgconfig/quon-script.pc; do
  [ -f "$prefix/$path" ] || fail "the kit has no $path"
done
# The kit holds nothing of the program.
[ ! -e "$prefix/bin" ] || fail "the kit installs bin/"

cp -r "$template" "$work/tally"
rm -rf "$work/tally/build"
template=$work/tally

# With CMake, as the template's CMakeLists.txt says.
cmake -S "$template" -B "$template/build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS=-Werror >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "the template does not configure against the kit"; }
cmake --build "$template/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the template does not build"; }
module=$template/build/Tally.so
echo "kit: built $(basename "$module") with find_package(QuonScript)"

# With pkg-config.
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs quon-script) ||
  fail "pkg-config finds no quon-script"
"$cxx" -std=c++17 -shared -fPIC -fvisibility=hidden -Wall -Wextra -Werror -o "$work/Tally-pkg-config.so" \
  "$template/module.cpp" "$template/tally.cpp" $flags -Wl,-z,defs || fail "the template does not build with pkg-config"
echo "kit: built Tally-pkg-config.so with pkg-config ($flags)"

cd "$template"
for built in "$module" "$work/Tally-pkg-config.so"; do
  "$host" --panels panels --module "$built" run tally.quon || fail "the scenario with $(basename "$built")"
done
"$host" validate "$module" --seed 1 --messages 2000 >"$work/validate.log" 2>&1 || true
cat "$work/validate.log"
grep -q "9 passed, 0 failed, 0 skipped" "$work/validate.log" || fail "validate"

# Its wall: displays that watch no router, given their parent commands at
# start; served until SIGINT, which ends serve cleanly.
"$host" --panels panels check tally.toml || fail "check tally.toml"
status=0
timeout --preserve-status -s INT 3 "$host" --panels panels serve tally.toml >"$work/serve.out" 2>&1 || status=$?
cat "$work/serve.out"
[ "$status" = 0 ] || fail "serve tally.toml ended with $status"
grep -q 'cam1: \[ CAM 1 \] (tally_off)' "$work/serve.out" || fail "serve showed no cam1"
grep -q 'cam2: \[ CAM 2 \] (tally_on)' "$work/serve.out" || fail "serve showed no cam2 on tally"

# The same wall with the page's control API on: a button event and parent
# commands from a client holding the token, answered with the component's
# reply; one without it refused; each logged with its client.
token=kit-test-token-0123456789
{ cat tally.toml; printf '\n[control]\ntoken = "%s"\n' "$token"; } >tally-control.toml
"$host" --panels panels --http 127.0.0.1:0 serve tally-control.toml >"$work/control.out" 2>&1 &
serving=$!
url=
for _ in $(seq 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/control.out" | head -n 1) && [ -n "$url" ] && break
  sleep 0.1
done
post() { curl -s -o "$work/answer" -w '%{http_code}' -X POST "$@"; }
[ -n "$url" ] || { kill -INT $serving; cat "$work/control.out"; fail "serve with --http named no address"; }
got=$(post -H "Authorization: Bearer $token" --data-binary 'myMimic press' "${url}api/displays/cam2/button")
[ "$got" = 200 ] || { kill -INT $serving; fail "button: $got"; }
got=$(post -H "Authorization: Bearer $token" --data-binary 'return=tally' "${url}api/displays/cam2/parent")
[ "$got" = 200 ] && [ "$(cat "$work/answer")" = "tally=0" ] ||
  { kill -INT $serving; fail "parent: $got $(cat "$work/answer") (the button should have switched the tally off)"; }
got=$(post --data-binary 'tally=1' "${url}api/displays/cam2/parent")
[ "$got" = 401 ] || { kill -INT $serving; fail "no token: $got"; }
kill -INT $serving
wait $serving || fail "serve with control ended with $?"
cat "$work/control.out"
grep -q 'control: 127\.0\.0\.1:[0-9]* POST /api/displays/cam2/button "myMimic press": 200' "$work/control.out" ||
  fail "the button request was not logged"
grep -q 'control: 127\.0\.0\.1:[0-9]* POST /api/displays/cam2/parent "tally=1": 401' "$work/control.out" ||
  fail "the refused request was not logged"
echo "kit: passed"
