#!/usr/bin/env bash
# Installs the built tree into a scratch prefix and builds an outside host against it.
set -euo pipefail
build=${1:-build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null
cmake -S tests/install -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix/usr" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/consumer" >/dev/null
LD_LIBRARY_PATH="$prefix/usr/lib:$prefix/usr/lib/x86_64-linux-gnu" "$prefix/consumer/consumer"
# The installed tool must find the installed library on its own.
"$prefix/usr/bin/orvane" --help >/dev/null
echo "check-install: installed orvane starts"
