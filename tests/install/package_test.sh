#!/usr/bin/env bash
# The Debian package: built with CPack from the build folder into a temporary folder, never installed
# into the system. Its Depends come from the programs; unpacked with dpkg-deb -x, its kavrimo-cli
# converts the sample grid with the template of the same package; lintian finds no error in it and
# desktop-file-validate accepts its menu entry.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
umask 022  # the package's folders take their modes from it
build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

timeout 240 cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
deb=$work/cpack/kavrimo_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no package $(basename "$deb"): $(ls "$work/cpack")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpng16-16 libtiff6 libgeotiff5 libproj25; do
  [[ $depends == *"$library "* || $depends == *"$library" ]] || fail "Depends lacks $library: $depends"
done
# The description and both manual pages speak of every input and command.
description=$(dpkg-deb -f "$deb" Description)
for word in "ESRI ASCII grids" "float grids" "GeoTIFFs" "quick-looks" "exports images"; do
  [[ $description == *"$word"* ]] || fail "the description does not mention $word: $description"
done
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
echo "package: $(basename "$deb"), Depends: $depends"

root=$work/root
dpkg-deb -x "$deb" "$root"
cp "$source/samples/dem.hdr" "$source/samples/dem.flt" "$work/"
timeout 60 "$root/usr/bin/kavrimo-cli" convert "$work/dem.flt" "$work/dem.IMG" >"$work/convert.out" 2>&1 ||
  fail "the unpacked kavrimo-cli: $(cat "$work/convert.out")"
grep -qx "Image created succesfully" "$work/convert.out" || fail "no success line: $(cat "$work/convert.out")"
timeout 60 "$build/bin/kavrimo-cli" convert "$work/dem.flt" "$work/build.IMG" >/dev/null
cmp "$work/dem.IMG" "$work/build.IMG" || fail "the unpacked program's image differs from the build's"
echo "unpacked kavrimo-cli converts with usr/share/kavrimo/header.bin"
# The command line needs no toolkit, and GeoTIFF's libraries come with the module alone.
if readelf -d "$root/usr/bin/kavrimo-cli" | grep -E "NEEDED.*(libQt6|libtiff|libgeotiff|libproj)"; then
  fail "kavrimo-cli links Qt or a GeoTIFF library"
fi
module=$(cd "$root" && find usr/lib -name kavrimo_geotiff.so)
[[ $module == usr/lib/*/kavrimo/kavrimo_geotiff.so ]] || fail "no GeoTIFF module in usr/lib/<architecture>/kavrimo: $module"
! dpkg-deb -I "$deb" postinst >/dev/null 2>&1 ||
  fail "the package runs a postinst (ldconfig) for its private module"
timeout 60 "$root/usr/bin/kavrimo-cli" export "$work/dem.IMG" "$work/dem.tif" >/dev/null 2>"$work/export.err" ||
  fail "the unpacked kavrimo-cli cannot export a GeoTIFF: $(cat "$work/export.err")"
timeout 60 "$root/usr/bin/kavrimo-cli" convert "$work/dem.tif" "$work/tif.IMG" >/dev/null 2>"$work/tif.err" ||
  fail "the unpacked kavrimo-cli cannot convert a GeoTIFF: $(cat "$work/tif.err")"
echo "unpacked kavrimo-cli links no Qt or GeoTIFF library; its GeoTIFF module is $module"
for page in kavrimo-cli kavrimo; do
  file=$root/usr/share/man/man1/$page.1.gz
  [[ -f $file ]] || continue
  name=$(zcat "$file" | sed -n '/^\.SH NAME/{n;p}')
  [[ $name == *"ESRI ASCII grids"* && $name == *GeoTIFFs* ]] || fail "$page(1) NAME does not name every input: $name"
done

desktop=$root/usr/share/applications/kavrimo.desktop
if [[ -f $desktop ]]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
  echo "desktop entry valid"
fi

# Errors fail the test; warnings and notes are shown (the README says why each one stays).
timeout 240 lintian --fail-on error --display-info "$deb" >"$work/lintian.out" 2>&1 ||
  fail "lintian: $(cat "$work/lintian.out")"
echo "lintian: $(grep -c . "$work/lintian.out" || true) lines, no error"
cat "$work/lintian.out"
