#!/bin/sh
# Installs the build into a fresh prefix, then builds a host outside the tree
# against it twice (CMake package, pkg-config) and runs both.
set -eu
build_dir=$1
host_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" > /dev/null
cmake -S "$host_dir" -B "$prefix/host-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$prefix/host-build" > /dev/null
"$prefix/host-build/host"
pc_dir=$(dirname "$(find "$prefix" -name videoconf.pc)")
module=$(dirname "$pc_dir")/libvideoconf.so
# shellcheck disable=SC2046
c++ -std=c++20 -o "$prefix/host-pc" "$host_dir/host.cc" -DVIDEOCONF_MODULE="\"$module\"" \
  $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs videoconf) -ldl
"$prefix/host-pc"
test -x "$prefix/bin/videoconf"
"$prefix/bin/videoconf" devices | grep -q "virtual video camera"
