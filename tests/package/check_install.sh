#!/usr/bin/env bash
# Installs the given build, and a shared-library build of the same sources,
# each into a temporary prefix; checks that exactly the expected files land
# there, and builds a consumer against each twice: through find_package and
# through pkg-config.
#
#   check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
here=$(dirname "$(realpath "$0")")
source_dir=$(realpath "$here/../..")
rm -rf "$work"
mkdir -p "$work"

want=$'; greeting\n[hello]\nwho = installed world ; the default\ncurrent file'

# check_prefix PREFIX KIND: KIND is static or shared.
check_prefix() {
    local prefix=$1 kind=$2
    local actual libdir library
    actual=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||; s|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' | sort)
    libdir=$(cd "$prefix" && dirname "$(find . -name 'libinifileindex.*' -print -quit | sed 's|^\./||')")
    if [ "$kind" = static ]; then
        library="$libdir/libinifileindex.a"
    else
        library="$libdir/libinifileindex.so
$libdir/libinifileindex.so.0.1
$libdir/libinifileindex.so.0.1.0"
    fi
    local expected
    expected=$(sort <<LIST
bin/iniedit
bin/launcher
include/ini/IniCurrentFile.h
include/ini/IniDiagnostics.h
include/ini/IniDialect.h
include/ini/IniEditor.h
include/ini/IniExport.h
include/ini/IniFileIndex.h
include/ini/IniFileSave.h
include/ini/IniScanner.h
include/ini/IniStack.h
include/ini/IniTypes.h
include/ini/IniVersion.h
$library
$libdir/cmake/IniFileIndex/IniFileIndexConfig.cmake
$libdir/cmake/IniFileIndex/IniFileIndexConfigVersion.cmake
$libdir/cmake/IniFileIndex/IniFileIndexTargets.cmake
$libdir/cmake/IniFileIndex/IniFileIndexTargets-CONFIG.cmake
$libdir/pkgconfig/inifileindex.pc
share/doc/inifileindex/changelog.gz
share/doc/inifileindex/copyright
share/man/man1/iniedit.1.gz
share/man/man1/launcher.1.gz
LIST
)
    if [ "$actual" != "$expected" ]; then
        echo "$kind: installed files differ from the expected list:"
        diff <(echo "$expected") <(echo "$actual") || true
        exit 1
    fi
    echo "$kind installed: $(echo "$actual" | tr '\n' ' ')"

    cmake -S "$here/consumer" -B "$work/$kind-find_package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/$kind-find_package" >/dev/null
    local got
    got=$("$work/$kind-find_package/consumer")
    [ "$got" = "$want" ] || { echo "$kind find_package consumer printed: $got"; exit 1; }
    echo "$kind find_package consumer: ok"

    # shellcheck disable=SC2046
    c++ -std=c++17 "$here/consumer/main.cpp" \
        $(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs inifileindex) \
        -o "$work/$kind-pkg_config_consumer"
    got=$(LD_LIBRARY_PATH=$prefix/$libdir "$work/$kind-pkg_config_consumer")
    [ "$got" = "$want" ] || { echo "$kind pkg-config consumer printed: $got"; exit 1; }
    echo "$kind pkg-config consumer: ok"

    if [ "$kind" = shared ]; then
        local libraries
        libraries=$(LD_LIBRARY_PATH=$prefix/$libdir ldd "$work/$kind-pkg_config_consumer")
        grep -q libinifileindex.so.0.1 <<<"$libraries" ||
            { echo "the pkg-config consumer does not use the shared library"; exit 1; }
        local soname
        soname=$(readelf -d "$prefix/$libdir/libinifileindex.so.0.1.0" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
        [ "$soname" = libinifileindex.so.0.1 ] || { echo "SONAME is '$soname'"; exit 1; }
        # Only the public API is exported: the document's members, the
        # save functions and the ini_ functions; no file-local helper.
        local symbols
        symbols=$(nm -D --defined-only -C "$prefix/$libdir/libinifileindex.so.0.1.0" | awk '{ $1 = ""; $2 = ""; print }')
        for name in 'ini::IniFileIndex::load' 'ini::writeFileAtomically' 'ini_open_from_string' 'ini_read_string'; do
            grep -q "$name" <<<"$symbols" || { echo "not exported: $name"; exit 1; }
        done
        if grep -E 'anonymous namespace|Loader|c_locale_atof|write_all|require_open_document' <<<"$symbols"; then
            echo "internal symbols are exported"
            exit 1
        fi
        echo "shared library: SONAME $soname, $(grep -c . <<<"$symbols") exported symbols"
    fi
}

cmake --install "$build" --prefix "$work/static" >/dev/null
check_prefix "$work/static" static

cmake -S "$source_dir" -B "$work/shared-build" -G Ninja -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release \
    -DINI_BUILD_TESTS=OFF -DINI_INSTALL=ON >/dev/null
cmake --build "$work/shared-build" >/dev/null
cmake --install "$work/shared-build" --prefix "$work/shared" >/dev/null
check_prefix "$work/shared" shared
# The installed launcher finds the shared library next to it.
mkdir -p "$work/run"
printf '[settings]\ncmd1 = echo launched\n' >"$work/run/config.ini"
got=$(cd "$work/run" && "$work/shared/bin/launcher")
[ "$got" = launched ] || { echo "installed shared launcher printed: $got"; exit 1; }
echo "shared launcher: ok"
