#!/usr/bin/env bash
# The package as a user gets it, inside the throwaway root only: its modes,
# whatever the umask; installed with apt-get on the machine as it is, the
# program that the desktop entry names started by a plain user over a demo
# home, and the package removed again without leaving any of its files.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
skip() {  # on CI, where everything it needs is there, a skip is a failure
  echo "skipped: $1"
  [ "${TAVO_THROWAWAY_ROOT_REQUIRED:-0}" = 1 ] && exit 1
  exit 77
}
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
failures=0
[ "${TAVO_THROWAWAY_ROOT:-}" = 1 ] && [ -e /run/tavo-throwaway-root ] ||
  skip "installs a package as root: runs only inside scripts/throwaway-root"
debs=("$build"/tavo-uninstaller_*.deb)
[ -f "${debs[0]}" ] || skip "no package in $build: run 'cpack -G DEB' there first"
export DEBIAN_FRONTEND=noninteractive

# Nothing it installs may be writable by anyone but its owner, whatever the
# umask of whoever built, packaged or installed it: root runs its helpers.
writable_in_deb() {  # the entries of package $1 that group or others may write
  dpkg-deb --fsys-tarfile "$1" | tar -tvf - |
    awk '$1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w")'
}
bad=$(writable_in_deb "${debs[0]}")
[ -z "$bad" ] || fail "the package holds entries others may write: $bad"
(cd "$build" && umask 000 && cpack -G DEB -B /tmp/umask000-deb >/tmp/cpack.log 2>&1) ||
  fail "cpack failed under umask 000: $(tail -3 /tmp/cpack.log)"
bad=$(writable_in_deb /tmp/umask000-deb/tavo-uninstaller_*.deb)
[ -z "$bad" ] || fail "made under umask 000, the package holds entries others may write: $bad"
(umask 000 && DESTDIR=/tmp/umask000-install cmake --install "$build" >/tmp/cmake-install.log 2>&1) ||
  fail "cmake --install failed under umask 000: $(tail -3 /tmp/cmake-install.log)"
bad=$(find /tmp/umask000-install ! -type l -perm /022)
[ -z "$bad" ] || fail "installed under umask 000, others may write: $bad"

apt-get install -y "${debs[0]}" >/tmp/install.log 2>&1 ||
  { cat /tmp/install.log; echo "FAIL: apt-get could not install ${debs[0]}"; exit 1; }
dpkg -L tavo-uninstaller | sort >/tmp/listed

# The program the desktop entry starts, as a plain user, over a demo home.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.tavo.Uninstaller.desktop)
program=$(command -v "${exec_line%% *}") || fail "the Exec program $exec_line is not on the PATH"
useradd -m -s /bin/bash tavouser
"$source/scripts/demo-home" /home/tavouser >/dev/null
mkdir -m 700 /tmp/runtime-tavouser
chown -R tavouser: /home/tavouser /tmp/runtime-tavouser
setpriv --reuid=tavouser --regid=tavouser --init-groups \
  env -i HOME=/home/tavouser PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
  XDG_RUNTIME_DIR=/tmp/runtime-tavouser "$program" 2>/tmp/app.log &
app=$!
for _ in $(seq 300); do grep -q "Products found: " /tmp/app.log && break; sleep 0.1; done
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
grep -q "Products found: 4$" /tmp/app.log ||
  fail "the installed program did not find the demo's four products: $(tail -5 /tmp/app.log)"

# A removal as root for that user, as an administrator runs it, leaves every
# file of the package as it was installed (the list file included).
tavo-uninstall "Glass Harp" --user tavouser --yes >/tmp/uninstall.log 2>&1 ||
  fail "tavo-uninstall as root for tavouser failed: $(tail -5 /tmp/uninstall.log)"
[ -e "/home/tavouser/.local/share/Trash/files/Glass Harp" ] ||
  fail "Glass Harp is not in tavouser's Trash: $(tail -5 /tmp/uninstall.log)"
changed=$(dpkg --verify tavo-uninstaller 2>&1) || true
[ -z "$changed" ] || fail "a removal changed the package's own files: $changed"

# Removed again, none of its files or links is left.
apt-get remove --purge -y tavo-uninstaller >/tmp/remove.log 2>&1 || fail "apt-get could not remove it"
while read -r path; do
  if [ -L "$path" ] || [ -f "$path" ]; then fail "$path is left after the removal"; fi
done </tmp/listed
for folder in /usr/lib/TAVO_Uninstaller.app /usr/share/doc/tavo-uninstaller; do
  [ ! -e "$folder" ] || fail "$folder is left after the removal"
done
((failures == 0)) && echo "the package installs, finds the demo's products and leaves nothing behind"
((failures == 0))
