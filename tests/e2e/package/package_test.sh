#!/usr/bin/env bash
# Makes the package from the build folder $1, unpacks it and checks what is in it: every
# program, the library with its SONAME and development files, the system integration, the
# desktop entries, icons and manual pages, the conffiles; that the unpacked programs find the
# packaged library; that the maintainer scripts parse; that lintian finds no error; and that
# the README's size figures are what this package measures.
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if ! "$@" >/dev/null 2>&1; then echo "FAIL: $what"; failures=$((failures + 1)); fi
}

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/out/lumarcon-touch_*.deb)
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
root=$work/root
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)

programs=(KvrRs232 kvrctl kvrsim kvrreg touchsvc kvrautostart RClick tactivo cal3pt linear
          nvbackup nvrestore pinmap portscan monmatch sketch)
for p in "${programs[@]}"; do
  check "program $p" test -x "$root/usr/bin/$p"
  case $p in KvrRs232|touchsvc) page=$root/usr/share/man/man8/$p.8.gz ;;
                             *) page=$root/usr/share/man/man1/$p.1.gz ;; esac
  check "manual page $p" test -s "$page"
  for section in 'SEE ALSO' 'EXIT STATUS'; do
    check "manual page $p has $section" sh -c "zcat '$page' | grep -qx '.SH \"$section\"'"
  done
done
check "manual page tsapi(3)" test -s "$root/usr/share/man/man3/tsapi.3.gz"
for p in tactivo cal3pt linear nvbackup nvrestore pinmap portscan monmatch sketch RClick; do
  check "desktop entry $p" grep -q "^Exec=$p\\b" "$root/usr/share/applications/$p.desktop"
done
check "icons" test "$(ls "$root"/usr/share/icons/hicolor/scalable/apps/lumarcon-*.svg | wc -l)" -ge 10
for f in lib/systemd/system/KvrRs232.service lib/systemd/system/KvrUsbMgr.service \
         lib/systemd/system/touchsvc.service lib/systemd/system/touchsvc-shutdown.service \
         usr/lib/tmpfiles.d/lumarcon.conf usr/lib/modules-load.d/lumarcon.conf \
         usr/share/doc/lumarcon-touch/README.md.gz \
         usr/lib/sysusers.d/lumarcon.conf lib/udev/rules.d/60-lumarcon.rules \
         usr/include/tsapi.h etc/lumarcon/errmsg.txt etc/lumarcon/msg_3p_calib.txt \
         etc/lumarcon/msg_linear.txt usr/share/doc/lumarcon-touch/copyright \
         usr/share/doc/lumarcon-touch/changelog.gz; do
  check "file /$f" test -s "$root/$f"
done
check "units name the installed programs" grep -q '^ExecStart=/usr/bin/KvrRs232 ' \
  "$root/lib/systemd/system/KvrRs232.service"
check "udev rule runs the installed kvrctl" grep -q 'RUN+="/usr/bin/kvrctl replug' \
  "$root/lib/udev/rules.d/60-lumarcon.rules"
for f in /etc/lumarcon/errmsg.txt /etc/xdg/autostart/kvr-autostart.desktop; do
  check "conffile $f" grep -qx "$f" "$work/control/conffiles"
done
for s in postinst prerm postrm; do check "maintainer script $s parses" sh -n "$work/control/$s"; done

# The library: its SONAME is the name the programs ask for, and the link points at it.
soname=$(readelf -d "$libdir/libtsapi.so.1" 2>/dev/null | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
check "libtsapi SONAME libtsapi.so.1 (got '$soname')" test "$soname" = libtsapi.so.1
check "pkg-config file" grep -q '^Libs: .*-ltsapi' "$libdir/pkgconfig/tsapi.pc"
for p in tactivo touchsvc cal3pt kvrctl; do
  bin=$root/usr/bin/$p
  check "$p needs libtsapi.so.1" sh -c "readelf -d '$bin' | grep -q 'NEEDED.*\\[libtsapi.so.1\\]'"
  check "$p has no build-tree search path" sh -c "! readelf -d '$bin' | grep -Eq 'RPATH|RUNPATH'"
  check "$p finds the packaged library" sh -c \
    "LD_LIBRARY_PATH='$libdir' ldd '$bin' | grep -q 'libtsapi.so.1 => $libdir/libtsapi.so.1'"
  check "$p runs from the package" env LD_LIBRARY_PATH="$libdir" "$bin" --version
done

if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
  if grep -q '^E: ' "$work/lintian.txt"; then
    grep '^E: ' "$work/lintian.txt"
    echo "FAIL: lintian errors"
    failures=$((failures + 1))
  fi
fi

size=$(dpkg-deb -f "$deb" Installed-Size)
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, installed size ${size} KiB"

# The README's size figures are this build's, not typed once and left to drift: its row must
# be within 10 % of what was measured here (the line to put there is printed).
row=$(awk -v kib="$size" -v bytes="$(stat -c %s "$deb")" 'BEGIN {
  printf "| installed size of the package | %.1f MB (Installed-Size %d KiB); the .deb is %.1f MB |", kib * 1024 / 1e6, kib, bytes / 1e6 }')
readme=$(sed -n 's/^| installed size of the package | .*(Installed-Size \([0-9]*\) KiB); the .deb is \([0-9.]*\) MB |.*/\1 \2/p' \
  "$(dirname "$0")/../../../README.md")
within() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > 0 && b > 0 && (a - b) / b < 0.1 && (b - a) / b < 0.1) }'; }
if ! { read -r readmeKib readmeMb <<<"$readme" && within "$readmeKib" "$size" &&
       within "$readmeMb" "$(awk -v b="$(stat -c %s "$deb")" 'BEGIN { print b / 1e6 }')"; }; then
  echo "FAIL: README.md's package size row is stale; measured: $row"
  failures=$((failures + 1))
fi
((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all package checks passed"
