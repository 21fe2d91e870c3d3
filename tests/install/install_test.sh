#!/usr/bin/env bash
# The installed programs used as a user uses them. Installs the build into a temporary DESTDIR under
# the prefix /usr, then:
# - kavrimo-cli converts the sample grid with the installed template (and with --template winning
#   over it), runs info and --version; each manual page renders without warnings and names every
#   command and option the program's help lists; bash completion answers from the installed program;
# - with a window driver: the installed window runs offscreen as an unprivileged user with a fresh
#   home and no XDG_CONFIG_HOME, converts a grid, and leaves its settings in that user's
#   ~/.config/kavrimo/kavrimo.ini and nothing beside the executable.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION [WINDOW_DRIVER]
set -euo pipefail
umask 022  # what the installed programs' user must read
build=$1 source=$2 version=$3 driver=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
check() {  # check DESCRIPTION COMMAND...: runs the command, which must succeed
  local what=$1
  shift
  "$@" || fail "$what"
}

root=$work/root
DESTDIR=$root timeout 60 cmake --install "$build" --prefix /usr >/dev/null
bin=$root/usr/bin
share=$root/usr/share
module=$(cd "$root/usr" && find lib -name kavrimo_geotiff.so)  # lib/<architecture>/kavrimo
expected=(bin/kavrimo-cli "$module" share/kavrimo/header.bin share/man/man1/kavrimo-cli.1.gz
  share/bash-completion/completions/kavrimo-cli
  share/doc/kavrimo/README.md share/doc/kavrimo/copyright share/doc/kavrimo/changelog.gz)
if [[ -n $driver ]]; then
  expected+=(bin/kavrimo share/man/man1/kavrimo.1.gz share/applications/kavrimo.desktop
    share/icons/hicolor/scalable/apps/kavrimo.svg share/icons/hicolor/48x48/apps/kavrimo.png)
fi
for file in "${expected[@]}"; do [[ -f $root/usr/$file ]] || fail "not installed: /usr/$file"; done
[[ ! -e $bin/header.bin ]] || fail "a template was installed beside the programs"
echo "installed: $(cd "$root" && find . -type f | wc -l) files"

# The command line with the installed template, found through ../share/kavrimo.
data=$work/data
mkdir "$data"
cp "$source/samples/dem.hdr" "$source/samples/dem.flt" "$data/"
timeout 60 "$bin/kavrimo-cli" convert "$data/dem.flt" "$data/installed.IMG" >"$work/convert.out" ||
  fail "installed kavrimo-cli convert: $(cat "$work/convert.out")"
check "no success line" grep -qx "Image created succesfully" "$work/convert.out"
timeout 60 "$build/bin/kavrimo-cli" convert "$data/dem.flt" "$data/build.IMG" >/dev/null
check "the installed program's image differs from the build's" cmp "$data/installed.IMG" "$data/build.IMG"
status=0
timeout 60 "$bin/kavrimo-cli" convert --template "$work/missing.bin" "$data/dem.flt" "$data/other.IMG" \
  >/dev/null 2>&1 || status=$?
[[ $status == 1 && ! -e $data/other.IMG ]] || fail "--template did not win over the installed template ($status)"
timeout 60 "$bin/kavrimo-cli" info "$data/installed.IMG" >"$work/info.out" || fail "installed kavrimo-cli info"
check "info shows no header" grep -q "Rows" "$work/info.out"
[[ $(timeout 10 "$bin/kavrimo-cli" --version) == "kavrimo-cli $version" ]] || fail "--version is not $version"
echo "kavrimo-cli: convert, --template, info, --version ok"

# GeoTIFF through the module, opened on first use wherever the programs lie: installed under /usr and
# under another prefix, and in a copy of the build's bin folder. The command line links none of the
# libraries the module brings; without the module, a GeoTIFF is refused naming it and float grids
# still convert.
if readelf -d "$bin/kavrimo-cli" | grep -E "NEEDED.*(libQt6|libtiff|libgeotiff|libproj)"; then
  fail "kavrimo-cli links Qt or a GeoTIFF library"
fi
readelf -d "$root/usr/$module" | grep -q "NEEDED.*libgeotiff" || fail "the module lacks libgeotiff"
timeout 60 cmake --install "$build" --prefix "$work/opt" >/dev/null
mkdir "$work/portable" "$work/bare"
cp "$build/bin/kavrimo-cli" "$build/bin/header.bin" "$build/bin/kavrimo_geotiff.so" "$work/portable/"
cp "$build/bin/kavrimo-cli" "$build/bin/header.bin" "$work/bare/"
for program in "$bin/kavrimo-cli" "$work/opt/bin/kavrimo-cli" "$work/portable/kavrimo-cli"; do
  rm -f "$data/back.tif" "$data/back.IMG"
  timeout 60 "$program" export "$data/installed.IMG" "$data/back.tif" >/dev/null 2>"$work/tif.err" &&
    timeout 60 "$program" convert "$data/back.tif" "$data/back.IMG" >/dev/null 2>>"$work/tif.err" ||
    fail "$program: GeoTIFF export and conversion: $(cat "$work/tif.err")"
done
status=0
timeout 60 "$work/bare/kavrimo-cli" convert "$data/back.tif" "$data/bare.IMG" >/dev/null 2>"$work/bare.err" || status=$?
[[ $status == 1 && $(cat "$work/bare.err") == *"GeoTIFF module kavrimo_geotiff.so is missing"* ]] ||
  fail "without its module kavrimo-cli said ($status): $(cat "$work/bare.err")"
timeout 60 "$work/bare/kavrimo-cli" convert "$data/dem.flt" "$data/bare.IMG" >/dev/null ||
  fail "without its module kavrimo-cli cannot convert a float grid"
echo "not a module" >"$work/bare/kavrimo_geotiff.so"
status=0
timeout 60 "$work/bare/kavrimo-cli" convert "$data/back.tif" "$data/bare.IMG" >/dev/null 2>"$work/bare.err" || status=$?
[[ $status == 1 && $(cat "$work/bare.err") == *"GeoTIFF module $work/bare/kavrimo_geotiff.so cannot be loaded: "* ]] ||
  fail "with a damaged module kavrimo-cli said ($status): $(cat "$work/bare.err")"
echo "GeoTIFF module: found installed, under another prefix and in a portable copy; missing or damaged, named"

# The manual pages: no warnings, the version, and every command and option the help lists.
pages=("$share/man/man1/"*.1.gz)
for page in "${pages[@]}"; do
  MANWIDTH=80 timeout 30 man --warnings -l "$page" >/dev/null 2>"$work/man.err" || fail "man -l $page"
  [[ ! -s $work/man.err ]] || fail "warnings rendering $(basename "$page"): $(cat "$work/man.err")"
  MANWIDTH=400 timeout 30 man -l "$page" 2>/dev/null >"$work/$(basename "$page" .1.gz).txt"
  check "$(basename "$page") shows no version $version" grep -q "Kavrimo $version" "$work/$(basename "$page" .1.gz).txt"
done
commands=$("$bin/kavrimo-cli" --help | awk '/^Commands:$/ { f = 1; next } /^$/ { f = 0 } f { print $1 }')
[[ -n $commands ]] || fail "kavrimo-cli --help lists no command"
for command in $commands; do
  check "kavrimo-cli.1 lacks the command $command" grep -q "kavrimo-cli $command" "$work/kavrimo-cli.txt"
  for option in $("$bin/kavrimo-cli" "$command" --help | awk '/^Options:$/ { f = 1; next } f && /^ +-/ { print }' |
    grep -o -- '--[a-z-]*'); do
    check "kavrimo-cli.1 lacks $command $option" grep -q -- "$option" "$work/kavrimo-cli.txt"
  done
done
for status in "EXIT STATUS" "FILES" "EXAMPLES"; do
  check "kavrimo-cli.1 has no $status" grep -q "^$status" "$work/kavrimo-cli.txt"
done
echo "manual pages: ${#pages[@]} render without warnings, every command and option in kavrimo-cli.1"

# Bash completion, asking the installed program.
complete_words() {  # complete_words WORD...: what completing the last word offers, one per line
  (
    set +eu
    PATH=$bin:$PATH
    source "$share/bash-completion/completions/kavrimo-cli"
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _kavrimo_cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}"
  )
}
[[ $(complete_words kavrimo-cli con) == convert ]] || fail "completion of a command"
[[ $(complete_words kavrimo-cli convert --te) == --template ]] || fail "completion of an option"
[[ $(complete_words kavrimo-cli convert --template "$data/dem.f") == "$data/dem.flt" ]] ||
  fail "completion of an option's file"
[[ -z $(complete_words kavrimo-cli convert --jobs "") ]] || fail "completion offered files for a number"
[[ $(complete_words kavrimo-cli info --json "$data/inst") == "$data/installed.IMG" ]] ||
  fail "completion of an argument after a flag"
echo "bash completion ok"

[[ -n $driver ]] || exit 0

# The installed window as a user with a fresh home: the driver types both names and presses Convert.
home=$work/home
mkdir -p "$home" "$work/window"
cp "$source/samples/dem.hdr" "$source/samples/dem.flt" "$work/window/"
install -m 644 "$driver" "$work/driver.so"
as_user=()
user=$(id -un)
if [[ $(id -u) == 0 ]]; then
  # Root writes anywhere, beside the executable too: the window runs as nobody, as a user would.
  chown -R 65534:65534 "$home" "$work/window"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  user=nobody
fi
before=$(cd "$root" && find . -printf '%p %s %T@\n' | sort)
timeout 60 "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen \
  LD_PRELOAD="$work/driver.so" KAVRIMO_DRIVE_INPUT="$work/window/dem.flt" \
  KAVRIMO_DRIVE_OUTPUT="$work/window/dem.IMG" "$bin/kavrimo" >"$work/window.out" 2>"$work/window.err" ||
  fail "the installed window ended with status $?: $(cat "$work/window.out" "$work/window.err")"
[[ $(cat "$work/window.out") == "message: Image created succesfully" ]] ||
  fail "the window said: $(cat "$work/window.out" "$work/window.err")"
check "the window's image differs from the command line's" cmp "$work/window/dem.IMG" "$data/installed.IMG"
settings=$home/.config/kavrimo/kavrimo.ini
[[ -f $settings ]] || fail "no settings in $settings: $(cd "$home" && find .)"
[[ $(cat "$settings") == $'[files]\ninput='"$work/window/dem.flt"$'\noutput='"$work/window/dem.IMG" ]] ||
  fail "settings: $(cat "$settings")"
[[ $(stat -c %a "$home/.config/kavrimo") == 700 ]] || fail "the settings folder is open to others"
[[ $(cd "$root" && find . -printf '%p %s %T@\n' | sort) == "$before" ]] ||
  fail "the window changed the installed files"
echo "window: converted as $user, settings in ~/.config/kavrimo, nothing beside the executable"
