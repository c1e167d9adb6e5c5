#!/usr/bin/env bash
# Builds the Debian package in build-package/ (Release, without tests; build/ is left alone) and checks
# it: desktop entry (desktop-file-validate), AppStream metadata (appstreamcli), manual pages (groff),
# the package itself (lintian), its file list (the user guide's pages with every image they show), and
# that every installed program starts with --version.
# Prints the path of the package at the end; the exit status is non-zero if anything failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-packages.sh g++ cmake make pkg-config qt6-base-dev libgl-dev nlohmann-json3-dev libsystemd-dev \
    cmark-gfm dpkg-dev file desktop-file-utils appstream lintian groff-base man-db shared-mime-info libxml2-utils

dir=build-package
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Debian's hardening flags, as a Debian build uses them (fortified functions, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Only what gets installed is built (no benchmarks): cpack's install step then builds nothing more.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMORVANDELL_WERROR=ON \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target morvandell_installed
rm -f "$dir"/morvandell_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/morvandell_*_amd64.deb 2>/dev/null || ls "$dir"/morvandell_*.deb)
version=$(dpkg-deb -f "$deb" Version)
root="$dir/root"
rm -rf "$root"
dpkg-deb -x "$deb" "$root"

failed=0
fail() { echo "FAILED: $*"; failed=1; }

echo "== $deb"
dpkg-deb -f "$deb"
dpkg-deb -c "$deb" | awk '{print $1, $6}'

echo "== Installed files"
id=de.morvandell.Morvandell
for f in usr/bin/morvandell usr/bin/morvandell-sim usr/share/applications/$id.desktop \
         usr/share/metainfo/$id.metainfo.xml usr/share/icons/hicolor/scalable/apps/$id.svg \
         usr/share/icons/hicolor/48x48/apps/$id.png usr/share/icons/hicolor/128x128/apps/$id.png \
         usr/share/icons/hicolor/256x256/apps/$id.png usr/lib/udev/rules.d/70-morvandell.rules \
         usr/share/mime/packages/$id.xml \
         usr/share/doc/morvandell/copyright usr/share/doc/morvandell/changelog.gz \
         usr/share/doc/morvandell/connection-trace.md \
         usr/share/doc/morvandell/handbuch/index.html usr/share/doc/morvandell/handbuch/en.html \
         usr/share/doc/morvandell/handbuch/style.css; do
    [ -f "$root/$f" ] || fail "$f is missing"
done
# Every image the guide's pages show is installed beside them.
for page in "$root"/usr/share/doc/morvandell/handbuch/*.html; do
    for image in $(grep -o 'src="[^"]*"' "$page" | sed 's/^src="//; s/"$//'); do
        [ -f "$(dirname "$page")/$image" ] || fail "$(basename "$page") shows $image, which is not installed"
    done
done
# The command-line tool's folder is added before packaging/ in CMakeLists.txt, or it is left out.
[ ! -d cli ] || [ -f "$root/usr/bin/morvandell-cli" ] \
    || fail "usr/bin/morvandell-cli is missing (add_subdirectory(packaging) must come after add_subdirectory(cli))"
for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    case "$name" in morvandell | morvandell-sim | morvandell-cli) ;; *) fail "usr/bin/$name is not a program of ours" ;; esac
    [ -f "$root/usr/share/man/man1/$name.1.gz" ] || fail "no manual page for $name"
done

echo "== Programs without Qt"
# Only the windows program uses Qt; the command-line tool and the simulator run on the core alone.
for name in morvandell-cli morvandell-sim; do
    [ -f "$root/usr/bin/$name" ] || continue
    if ldd "$root/usr/bin/$name" | grep -i 'libQt'; then fail "$name links Qt"; fi
done

echo "== desktop-file-validate"
out=$(desktop-file-validate "$root/usr/share/applications/$id.desktop" 2>&1) || fail "desktop-file-validate"
[ -z "$out" ] || { echo "$out"; fail "desktop-file-validate reports something"; }

echo "== MIME type of profiles (shared-mime-info)"
mime="$root/usr/share/mime/packages/$id.xml"
xmllint --noout "$mime" || fail "the MIME type file is not well-formed XML"
mimedata=$(mktemp -d)
mimedb="$mimedata/mime"
mkdir -p "$mimedb/packages" && cp "$mime" "$mimedb/packages/"
if XDG_DATA_DIRS="$mimedata" XDG_DATA_HOME="$mimedata" update-mime-database "$mimedb" >"$mimedata/log" 2>&1 \
   && [ ! -s "$mimedata/log" ]; then
    grep -q '^60:application/x-morvandell-profile:\*\.morvandell\.json$' "$mimedb/globs2" \
        || fail "update-mime-database does not give *.morvandell.json the profile type"
else
    cat "$mimedata/log"
    fail "update-mime-database rejects the MIME type file"
fi
rm -rf "$mimedata"
# The desktop entry opens exactly the types the package declares.
declared=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$mime" | sort | tr '\n' ';')
opened=$(sed -n 's/^MimeType=//p' "$root/usr/share/applications/$id.desktop" | tr ';' '\n' | sed '/^$/d' | sort | tr '\n' ';')
[ "$declared" = "$opened" ] || fail "desktop entry MimeType ($opened) differs from the declared types ($declared)"
grep -q '^Exec=morvandell %f$' "$root/usr/share/applications/$id.desktop" || fail "the desktop entry does not pass the file"

echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

echo "== Manual pages (groff -ww)"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    out=$(zcat "$page" | groff -ww -man -Tutf8 2>&1 >/dev/null) || fail "groff $(basename "$page")"
    [ -z "$out" ] || { echo "$(basename "$page"): $out"; fail "groff warns about $(basename "$page")"; }
done

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== --version of every program (no display)"
for program in "$root"/usr/bin/*; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version 2>&1) \
        || fail "$(basename "$program") --version exits with an error"
    echo "$out"
    [[ "$out" == *"$version"* ]] || fail "$(basename "$program") --version does not show $version"
done

if [ "$failed" -ne 0 ]; then
    echo "Package checks FAILED: $deb"
    exit 1
fi
echo "Package checks passed: $deb"
