#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that exactly the
# expected files land there, and builds a consumer against it twice: through
# find_package and through pkg-config.
#
#   check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
here=$(dirname "$(realpath "$0")")
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||; s|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' | sort)
libdir=$(cd "$prefix" && dirname "$(find . -name 'libinifileindex.a' | sed 's|^\./||')")
expected=$(sort <<LIST
bin/launcher
include/ini/IniFileIndex.h
include/ini/IniFileSave.h
$libdir/libinifileindex.a
$libdir/cmake/IniFileIndex/IniFileIndexConfig.cmake
$libdir/cmake/IniFileIndex/IniFileIndexConfigVersion.cmake
$libdir/cmake/IniFileIndex/IniFileIndexTargets.cmake
$libdir/cmake/IniFileIndex/IniFileIndexTargets-CONFIG.cmake
$libdir/pkgconfig/inifileindex.pc
share/man/man1/launcher.1
LIST
)
if [ "$actual" != "$expected" ]; then
    echo "installed files differ from the expected list:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "installed: $(echo "$actual" | tr '\n' ' ')"

want=$'; greeting\n[hello]\nwho = installed world ; the default'

cmake -S "$here/consumer" -B "$work/find_package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/find_package" >/dev/null
got=$("$work/find_package/consumer")
[ "$got" = "$want" ] || { echo "find_package consumer printed: $got"; exit 1; }
echo "find_package consumer: ok"

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++17 "$here/consumer/main.cpp" $(pkg-config --cflags --libs inifileindex) -o "$work/pkg_config_consumer"
got=$("$work/pkg_config_consumer")
[ "$got" = "$want" ] || { echo "pkg-config consumer printed: $got"; exit 1; }
echo "pkg-config consumer: ok"
