#!/usr/bin/env bash
# The kit installed and used from outside the tree:
#
#   tests/kit/kit_test.sh BUILD_DIR QUON_HOST TEMPLATE_DIR CXX
#
# installs the install component `kit` of BUILD_DIR into a temporary
# prefix; builds the template in TEMPLATE_DIR with CMake (find_package,
# warnings as errors) and with pkg-config; runs the template's scenario
# with both modules and `validate` on the first. Exit 0 passed, 1 failed.
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

# With CMake, as the template's CMakeLists.txt says.
cmake -S "$template" -B "$work/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS=-Werror >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "the template does not configure against the kit"; }
cmake --build "$work/cmake" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the template does not build"; }
module=$work/cmake/Tally.so
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
echo "kit: passed"
