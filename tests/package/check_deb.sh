#!/usr/bin/env bash
# Builds the Debian package with CPack and checks its metadata and contents,
# then unpacks it into a throwaway root and runs the launcher from there.
#
#   check_deb.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(find "$work" -maxdepth 1 -name '*.deb')
[ -n "$deb" ] || { echo "no package built"; exit 1; }
echo "package: $(basename "$deb")"

info=$(dpkg-deb -f "$deb")
arch=$(dpkg --print-architecture)
for field in 'Package: inifileindex' 'Version: 0.1.0' "Architecture: $arch" 'Section: utils'; do
    grep -qx "$field" <<<"$info" || { echo "missing '$field' in:"; echo "$info"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || { echo "Depends lacks libc6: $depends"; exit 1; }
echo "Depends: $depends"

contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for file in ./usr/bin/launcher ./usr/bin/iniedit ./usr/share/man/man1/iniedit.1.gz ./usr/include/ini/IniFileIndex.h ./usr/include/ini/IniCurrentFile.h \
    ./usr/share/man/man1/launcher.1.gz ./usr/share/doc/inifileindex/copyright ./usr/share/doc/inifileindex/changelog.gz \
    ./usr/lib/pkgconfig/inifileindex.pc ./usr/lib/libinifileindex.a \
    ./usr/lib/cmake/IniFileIndex/IniFileIndexConfig.cmake; do
    grep -qx "$file" <<<"$contents" || { echo "package lacks $file:"; echo "$contents"; exit 1; }
done
if grep -qE 'test|bench|fuzz' <<<"$contents"; then
    echo "package holds tests, benchmarks or fuzzers:"; echo "$contents"; exit 1
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
mkdir -p "$work/run"
printf '[settings]\ncmd1 = echo from the package\n' > "$work/run/config.ini"
got=$(cd "$work/run" && "$root/usr/bin/launcher")
[ "$got" = "from the package" ] || { echo "packaged launcher printed: $got"; exit 1; }
got=$("$root/usr/bin/iniedit" get "$work/run/config.ini" settings cmd1)
[ "$got" = "echo from the package" ] || { echo "packaged iniedit printed: $got"; exit 1; }
echo "contents and metadata: ok"

# lintian must find no error; warnings and notes are shown, not failed on.
# It exits 1 when it finds errors; anything else but 0 means it did not run.
status=0
report=$(lintian --no-tag-display-limit "$deb" 2>&1) || status=$?
if [ "$status" -gt 1 ]; then
    echo "lintian did not run (status $status): $report"
    exit 1
fi
report=$(grep -v 'running with root privileges' <<<"$report" || true)
[ -z "$report" ] || echo "$report"
if grep -q '^E:' <<<"$report"; then
    echo "lintian reports errors"
    exit 1
fi
echo "lintian: no error"
