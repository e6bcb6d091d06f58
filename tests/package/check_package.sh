#!/bin/sh
# Builds the packages into a scratch folder of the build and checks them.
set -u
fail=0
say() { echo "package_contents: $*"; }
bad() { say "FAIL: $*"; fail=1; }

command -v dpkg-deb >/dev/null || { say "skipped: dpkg-deb is not installed (apt-get install dpkg-dev)"; exit 77; }
command -v dpkg-shlibdeps >/dev/null || { say "skipped: dpkg-shlibdeps is not installed (apt-get install dpkg-dev)"; exit 77; }
[ -e "$VELTO_BUILD_DIR/packaging/velto.8.gz" ] || { say "skipped: no manual pages in the build (apt-get install pandoc, then build)"; exit 77; }

out="$VELTO_BUILD_DIR/package-test"
rm -rf "$out" && mkdir -p "$out"
# gzip, not xz: a sanitizer build's binaries are large and this is no release.
if ! (cd "$VELTO_BUILD_DIR" && "$CPACK" -G DEB -B "$out" -D CPACK_OUTPUT_FILE_PREFIX="$out" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$out/cpack.log" 2>&1); then
  cat "$out/cpack.log"; bad "cpack failed"; exit 1
fi
v="$VELTO_PACKAGE_VERSION"
deb=$(ls "$out"/velto_"$v"_*.deb 2>/dev/null | head -n 1)
desk=$(ls "$out"/velto-desktop_"$v"_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { ls "$out"; bad "no velto_$v package"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }')
for f in ./usr/lib/velto/velto ./usr/lib/velto/libportwell.so ./usr/lib/velto/libvelto_platform.so \
         ./usr/lib/velto/velto.paths ./lib/systemd/system/velto.service ./etc/pam.d/velto \
         ./etc/logrotate.d/velto ./usr/share/man/man8/velto.8.gz ./usr/share/man/man5/velto.usr.5.gz \
         ./usr/share/doc/velto/copyright ./usr/share/doc/velto/changelog.Debian.gz ./usr/share/velto/Velto.ini \
         "./usr/sbin/velto -> ../lib/velto/velto"; do
  printf '%s\n' "$files" | grep -qxF "$f" || bad "velto lacks $f"
done
# Accounts are never shipped, and the windows are the other package's.
printf '%s\n' "$files" | grep -q 'Velto.usr$\|libvelto_desktop' && bad "velto ships $(printf '%s\n' "$files" | grep 'Velto.usr$\|libvelto_desktop')"
dpkg-deb -c "$deb" | grep -q ' \./usr/lib/velto/velto$' && ! dpkg-deb -c "$deb" | grep -q '^-rwxr-xr-x.* \./usr/lib/velto/velto$' &&
  bad "the program is not mode 0755"

depends=$(dpkg-deb -f "$deb" Depends)
say "velto Depends: $depends"
echo "$depends" | grep -q 'libc6' || bad "velto's dependencies were not computed"
echo "$depends" | grep -qi 'qt\|libgl\|libx11' && bad "velto depends on desktop libraries"
[ "$(dpkg-deb -f "$deb" Version)" = "$v" ] || bad "velto's version is not $v"

scripts=$(mktemp -d) && dpkg-deb -e "$deb" "$scripts"
for s in postinst prerm postrm; do [ -x "$scripts/$s" ] || bad "velto has no $s"; done
grep -qx /etc/pam.d/velto "$scripts/conffiles" 2>/dev/null || bad "the PAM file is no conffile"
sh -n "$scripts/postinst" && sh -n "$scripts/postrm" || bad "a maintainer script does not parse"
rm -rf "$scripts"

if [ "$VELTO_HAS_DESKTOP" = 1 ]; then
  [ -n "$desk" ] || bad "no velto-desktop_$v package"
  if [ -n "$desk" ]; then
    dpkg-deb -c "$desk" | grep -q ' \./usr/lib/velto/libvelto_desktop.so$' || bad "velto-desktop lacks libvelto_desktop.so"
    dd=$(dpkg-deb -f "$desk" Depends)
    say "velto-desktop Depends: $dd"
    echo "$dd" | grep -qF "velto (= $v)" || bad "velto-desktop does not depend on velto (= $v)"
  fi
else
  say "no velto_desktop target in this tree: velto-desktop not checked"
fi
[ $fail = 0 ] && say "ok ($(basename "$deb")${desk:+, $(basename "$desk")})"
exit $fail
