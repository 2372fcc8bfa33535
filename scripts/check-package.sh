#!/usr/bin/env bash
# Checks what Zuna installs: the install tree file by file, the desktop entry
# and AppStream metainfo through their validators, the manual page, then the
# Debian package made by CPack, checked by lintian, installed with apt and
# started. Run as root
# after a build: bash scripts/check-package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:?usage: check-package.sh BUILD_DIR}")
source_dir=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d)
installed_before=no
dpkg-query -W -f='${Status}' zuna 2>/dev/null | grep -q "install ok installed" && installed_before=yes
cleanup() {
  rm -rf "$work"
  # Leave the machine as it was: a package this check installed goes again.
  if [ "$installed_before" = no ] && dpkg-query -W -f='${Status}' zuna 2>/dev/null | grep -q "install ok installed"; then
    dpkg --purge zuna >/dev/null
  fi
}
trap cleanup EXIT

fail() { echo "check-package: $*" >&2; exit 1; }
step() { echo "== $*"; }

version=$("$build/zuna" --version | awk '{print $2}')
[ -n "$version" ] || fail "$build/zuna --version gave no version"
icon_sizes=(16 32 48 64 128 256)
expected=(
  bin/zuna
  share/applications/zuna.desktop
  share/doc/zuna/changelog.gz
  share/doc/zuna/copyright
  share/icons/hicolor/scalable/apps/zuna.svg
  share/man/man1/zuna.1.gz
  share/metainfo/zuna.metainfo.xml
)
for s in "${icon_sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/zuna.png"); done

# Width and height of a PNG, from its IHDR chunk.
png_size() {
  python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n" and d[12:16]==b"IHDR"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"
}

# The files of a tree under `root` (as paths relative to it) are exactly the expected ones.
check_tree() {
  local root=$1 what=$2
  diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) \
    || fail "$what: the files differ from the expected list (< expected, > found)"
}

step "cmake --install into $work/tree"
prefix=$work/tree/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
check_tree "$prefix" "install tree"
[ -x "$prefix/bin/zuna" ] || fail "bin/zuna is not executable"
[ "$("$prefix/bin/zuna" --version)" = "zuna $version" ] || fail "the installed zuna --version differs"
for s in "${icon_sizes[@]}"; do
  got=$(png_size "$prefix/share/icons/hicolor/${s}x${s}/apps/zuna.png") || fail "${s}x${s}/apps/zuna.png is not a PNG"
  [ "$got" = "${s}x${s}" ] || fail "${s}x${s}/apps/zuna.png is $got"
done
python3 -c 'import sys, xml.dom.minidom as m; r=m.parse(sys.argv[1]).documentElement; assert r.tagName=="svg"' \
  "$prefix/share/icons/hicolor/scalable/apps/zuna.svg" || fail "scalable/apps/zuna.svg is not an SVG"
cmp -s "$prefix/share/doc/zuna/copyright" "$source_dir/packaging/copyright" || fail "share/doc/zuna/copyright is not packaging/copyright"
desktop=$prefix/share/applications/zuna.desktop
for line in Name=Zuna Exec=zuna Icon=zuna Terminal=false "Categories=Office;Telephony;" StartupWMClass=zuna; do
  grep -qxF "$line" "$desktop" || fail "zuna.desktop lacks $line"
done
grep -q '^Comment\[pt_BR\]=' "$desktop" && grep -q '^Comment\[en\]=' "$desktop" || fail "zuna.desktop lacks a pt_BR or en Comment"
for line in "Actions=Chamadas;Configurar;" "Exec=zuna --abrir chamadas" "Exec=zuna --abrir configuracao"; do
  grep -qxF "$line" "$desktop" || fail "zuna.desktop lacks $line"
done
metainfo=$prefix/share/metainfo/zuna.metainfo.xml
grep -qF '<launchable type="desktop-id">zuna.desktop</launchable>' "$metainfo" || fail "the metainfo does not launch zuna.desktop"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

step "desktop-file-validate"
desktop-file-validate "$desktop"
step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$metainfo"
step "man zuna"
# Every option of --help is in the manual page, and the page renders without a warning.
man_text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -M "$prefix/share/man" zuna 2>"$work/man.err")
[ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "the manual page renders with warnings"; }
for option in $("$build/zuna" --help | grep -oE '^  (-[a-z], )?--?[a-z-]+' | grep -oE -- '--[a-z-]+'); do
  grep -qF -- "$option" <<<"$man_text" || fail "the manual page does not mention $option"
done
for section in NOME SINOPSE DESCRIÇÃO OPÇÕES ARQUIVOS "STATUS DE SAÍDA"; do
  grep -qx "$section" <<<"$man_text" || fail "the manual page has no section $section"
done

step "cpack -G DEB"
arch=$(dpkg --print-architecture)
deb=$build/zuna_${version}_${arch}.deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6sql6-sqlite libqt6sql6-psql libqt6svg6 qt6-translations-l10n libqt6core6 libqt6widgets6 libspandsp2 libmdb3; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "the package does not depend on $p (Depends: $depends)"
done
[ "$(dpkg-deb -f "$deb" Section)" = comm ] || fail "the package's section is not comm"
mkdir "$work/deb"
dpkg-deb -x "$deb" "$work/deb"
check_tree "$work/deb/usr" "Debian package"

step "lintian $(basename "$deb")"
# Every tag at warning level or above fails the check (info and pedantic tags are shown only).
lintian --fail-on error,warning --display-info "$deb" || fail "lintian reports errors or warnings"

step "apt-get install $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
[ "$(/usr/bin/zuna --version)" = "zuna $version" ] || fail "/usr/bin/zuna --version differs"
QT_QPA_PLATFORM=offscreen /usr/bin/zuna --init --data-dir "$work/data" >/dev/null
for f in cada.sqlite ddd.sqlite site.txt; do
  [ -s "$work/data/$f" ] || fail "/usr/bin/zuna --init made no $f"
done
echo "check-package: all good ($(basename "$deb"))"
