#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a small
# consumer against it through find_package and through pkg-config.
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

echo "-- installed tool"
"$work/prefix/bin/colorspace" --version
