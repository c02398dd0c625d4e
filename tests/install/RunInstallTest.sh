#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a small
# consumer against it through find_package and through pkg-config, and as
# the README says for a custom prefix: linked with -Wl,-rpath,PREFIX/lib,
# or run with LD_LIBRARY_PATH; the installed tool runs with neither.
# Usage: RunInstallTest.sh BUILD_DIR CXX_COMPILER
set -euo pipefail
build_dir=$1
compiler=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

echo "-- find_package(ColorSpace CONFIG)"
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"

echo "-- pkg-config colorspace"
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$work/prefix/lib64/pkgconfig"
libdir=$(pkg-config --variable=libdir colorspace)
# shellcheck disable=SC2046
"$compiler" -std=c++20 "$here/consumer/consumer.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs colorspace) \
  -Wl,-rpath,"$libdir"
"$work/consumer-pc"

# Whether PROGRAM, run as it is in this environment, loads the prefix's
# library (the README's prefix, /opt/cs, has its library in lib).
library="$work/prefix/lib/libColorSpace.so.1"
loads_prefix_library() {
  local found
  found=$(ldd "$1" | sed -n 's/^[[:space:]]*libColorSpace\.so\.1 => \(.*\) (0x[0-9a-f]*)$/\1/p')
  [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$library")" ]
}
unset LD_LIBRARY_PATH

echo "-- the README's run-time search path, -Wl,-rpath,PREFIX/lib"
"$compiler" "$here/consumer/consumer.cpp" -o "$work/consumer-rpath" -I"$work/prefix/include" -L"$work/prefix/lib" \
  -lColorSpace -Wl,-rpath,"$work/prefix/lib"
loads_prefix_library "$work/consumer-rpath" || { echo "the consumer does not load $library" >&2; exit 1; }
"$work/consumer-rpath"

echo "-- or LD_LIBRARY_PATH, for a program linked without it"
"$compiler" "$here/consumer/consumer.cpp" -o "$work/consumer-plain" -I"$work/prefix/include" -L"$work/prefix/lib" \
  -lColorSpace
if loads_prefix_library "$work/consumer-plain"; then
  echo "a program linked without the search path found the prefix's library by itself" >&2
  exit 1
fi
LD_LIBRARY_PATH="$work/prefix/lib" loads_prefix_library "$work/consumer-plain" ||
  { echo "LD_LIBRARY_PATH does not lead the consumer to $library" >&2; exit 1; }
LD_LIBRARY_PATH="$work/prefix/lib" "$work/consumer-plain"

echo "-- installed tool, without LD_LIBRARY_PATH"
loads_prefix_library "$work/prefix/bin/colorspace" || { echo "the tool does not load $library" >&2; exit 1; }
"$work/prefix/bin/colorspace" --version

echo "-- the manual page and the bash completion"
man -l "$work/prefix/share/man/man1/colorspace.1" >/dev/null 2>&1 || [ -s "$work/prefix/share/man/man1/colorspace.1" ] ||
  { echo "no manual page in share/man/man1" >&2; exit 1; }
bash -c "source '$work/prefix/share/bash-completion/completions/colorspace' && complete -p colorspace" ||
  { echo "no bash completion in share/bash-completion/completions" >&2; exit 1; }
