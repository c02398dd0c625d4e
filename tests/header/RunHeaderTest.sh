#!/usr/bin/env bash
# Builds and runs consumer.cpp against the built library under every C++
# standard from C++98 to C++20, with each compiler given, warnings as errors.
# Usage: RunHeaderTest.sh INCLUDE_DIR LIBRARY_DIR COMPILER...
set -euo pipefail
include_dir=$1
library_dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for compiler in "$@"; do
  for standard in c++98 c++03 c++11 c++14 c++17 c++20; do
    program="$work/consumer-$(basename "$compiler")-$standard"
    if "$compiler" -std="$standard" -pedantic-errors -Wall -Wextra -Werror -I"$include_dir" "$here/consumer.cpp" \
      -o "$program" -L"$library_dir" -lColorSpace -Wl,-rpath,"$library_dir" && "$program"; then
      echo "$compiler -std=$standard: built without a warning, ran"
    else
      echo "$compiler -std=$standard: FAILED"
      status=1
    fi
  done
done
exit $status
