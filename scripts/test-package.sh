#!/usr/bin/env bash
# The Debian package round trip, as an administrator meets it: builds the
# packages from the build tree, installs corvane with apt-get, checks its
# files, its user and home, its unit (systemd-analyze verify, not enabled)
# and its commands, configures it against the bundled sample directory,
# runs `corvane-run --check` and one export as the user corvane, installs
# and removes the wizard's package, and purges corvane, checking that
# nothing of it is left but the system user (Debian keeps system users).
#
#   scripts/test-package.sh            # after scripts/test.sh (BUILD=build)
#
# It needs root and installs into the real /usr: it refuses to run where
# Corvane is installed or has a home already, and removes what it
# installed (and the user it made) also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
START=$(date +%s)
UNIT='/usr/lib/systemd/system/Corvane\x20Service.service'
HOME_DIR=/var/lib/corvane

say() { echo "test-package: $*"; }
fail() {
  say "FAILED: $*" >&2
  exit 1
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

[ "$(id -u)" -eq 0 ] || fail "needs root: it installs the package into /usr"
for package in corvane corvane-wizard; do
  installed "$package" && fail "the package $package is installed on this machine; it is left alone"
done
for place in "$HOME_DIR" /usr/lib/corvane; do
  [ -e "$place" ] && fail "$place exists on this machine (a Corvane installed by hand?); it is left alone"
done
user_existed=0
getent passwd corvane >/dev/null && user_existed=1

work=$(mktemp -d)
cleanup() {
  local status=$?
  trap - EXIT
  for package in corvane-wizard corvane; do
    installed "$package" && apt-get purge -y -q "$package" >/dev/null 2>&1
  done
  rm -rf "$HOME_DIR"
  if [ "$user_existed" -eq 0 ] && getent passwd corvane >/dev/null; then
    deluser --quiet corvane >/dev/null 2>&1 || true
    delgroup --quiet corvane >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
  if [ "$status" -eq 0 ]; then say "passed in $(($(date +%s) - START)) s"; else say "failed after $(($(date +%s) - START)) s" >&2; fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

as_corvane() { runuser -u corvane -- env CORVANE_HOME="$HOME_DIR" sh -c "cd '$HOME_DIR' && $1"; }

say "building the packages"
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$work/packages" >/dev/null
cd "$work/packages"
ls ./corvane_*.deb ./corvane-wizard_*.deb >/dev/null

say "installing corvane"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./corvane_*.deb >/dev/null
cd - >/dev/null

say "checking the files, the user and the home"
dpkg -L corvane >"$work/files"
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || fail "$path of the package is missing"
done <"$work/files"
for program in CorvaneService corvane-run corvane-reg corvane-regsvr dsimport libCorvane.so libServolink.so; do
  [ -f "/usr/lib/corvane/$program" ] || fail "/usr/lib/corvane/$program is missing"
done
for command in /usr/bin/corvane-run /usr/bin/corvane-reg /usr/bin/dsimport /usr/sbin/CorvaneService; do
  [ "$(readlink -f "$command")" = "/usr/lib/corvane/$(basename "$command")" ] || fail "$command does not lead to /usr/lib/corvane"
  "$command" --version >/dev/null || fail "$command --version"
  "$command" --help | grep -q . || fail "$command --help says nothing"
done
for page in man1/corvane-run.1 man1/corvane-reg.1 man1/dsimport.1 man8/CorvaneService.8 man5/corvane-parameters.5; do
  [ -f "/usr/share/man/$page.gz" ] || fail "the man page $page is missing"
done
zcat /usr/share/man/man5/corvane-parameters.5.gz | grep -q 'ConnectionString' || fail "corvane-parameters(5) lists no parameter"
IFS=: read -r _ _ uid _ _ home shell < <(getent passwd corvane) || fail "no user corvane"
[ "$uid" -lt 1000 ] || fail "corvane is not a system user (uid $uid)"
[ "$home" = "$HOME_DIR" ] || fail "corvane's home is $home"
[ "$(stat -c '%U:%G %a' "$HOME_DIR")" = "corvane:corvane 750" ] || fail "$HOME_DIR is $(stat -c '%U:%G %a' "$HOME_DIR")"
[ "$(stat -c '%U %a' "$HOME_DIR/registry.hive")" = "corvane 600" ] || fail "the registry is $(stat -c '%U %a' "$HOME_DIR/registry.hive")"
as_corvane "corvane-reg query 'HKLM\\SOFTWARE\\Classes\\Tarnwick.SvcUtil' /s" | grep -q libServolink.so ||
  fail "the service control component is not registered"

say "checking the unit"
[ -f "$UNIT" ] || fail "$UNIT is missing"
grep -qx 'User=corvane' "$UNIT" || fail "the unit does not run as corvane"
grep -qx 'ExecStart="/usr/lib/corvane/CorvaneService"' "$UNIT" || fail "the unit does not start /usr/lib/corvane/CorvaneService"
for line in NoNewPrivileges=yes UMask=0077 ProtectSystem=strict "ReadWritePaths=\"$HOME_DIR\"" PrivateTmp=yes ProtectHome=yes; do
  grep -qx "$line" "$UNIT" || fail "the unit lacks $line"
done
output=$(systemd-analyze verify --man=no "$UNIT" 2>&1) || fail "systemd-analyze verify: $output"
[ -z "$output" ] || fail "systemd-analyze verify: $output"
if ls /etc/systemd/system/*.wants/Corvane* >/dev/null 2>&1; then fail "the service is enabled before it is configured"; fi

say "configuring against the sample directory as corvane"
as_corvane "corvane-reg add /v ConnectionString /t REG_EXPAND_SZ /f \
  /d 'Driver=SQLite3;Database=$HOME_DIR/corvane.db;JournalMode=WAL;SyncPragma=NORMAL'" >/dev/null
for setting in Server=/usr/share/corvane/directory.ldif Mailbox=corvane.service ScheduleType=0 ScheduleDay=0 \
  DISPLAY_NAME=1 GIVEN_NAME=1 SURNAME=1 ACCOUNT=1; do
  as_corvane "corvane-reg add /v '${setting%%=*}' /d '${setting#*=}' /f" >/dev/null
done
# root's corvane-reg leaves the registry to corvane
corvane-reg add /v TITLE /d 1 /f >/dev/null
[ "$(stat -c '%U' "$HOME_DIR/registry.hive")" = corvane ] || fail "root's corvane-reg took the registry from corvane"

status=0
as_corvane "corvane-run --check" >"$work/check" || status=$?
[ "$status" -eq 0 ] || fail "corvane-run --check ended with $status: $(cat "$work/check")"
grep -q '^ok: directory: /usr/share/corvane/directory.ldif holds 300 address-list entries' "$work/check" ||
  fail "corvane-run --check did not read the directory: $(cat "$work/check")"

say "one export as corvane"
status=0
as_corvane "corvane-run --quiet-sql" >"$work/run" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "corvane-run ended with $status: $(tail -n 20 "$work/run")"
grep -q 'final table GAL: 300 rows' "$work/run" || fail "the export did not fill GAL: $(tail -n 5 "$work/run")"
as_corvane "corvane-run --status --max-age 1h" | grep -q '^CORVANE OK: the last run completed' || fail "corvane-run --status"
status=0
corvane-run >/dev/null 2>&1 || status=$?
[ "$status" -eq 77 ] || fail "root's corvane-run on corvane's home ended with $status, not 77"

say "installing and removing corvane-wizard"
cd "$work/packages"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./corvane-wizard_*.deb >/dev/null
cd - >/dev/null
CorvaneWizard --version >/dev/null || fail "CorvaneWizard --version"
dpkg -L corvane-wizard >>"$work/files"
apt-get purge -y -q corvane-wizard >/dev/null

say "purging corvane"
apt-get purge -y -q corvane >/dev/null
installed corvane && fail "corvane is still installed"
while read -r path; do
  # Folders other packages share (/usr/bin, /usr/share/man/man1) stay.
  if [ -e "$path" ] && ! [ -d "$path" ] || [ -L "$path" ]; then fail "$path is left behind"; fi
done <"$work/files"
for place in /usr/lib/corvane /usr/share/corvane "$HOME_DIR"; do
  [ -e "$place" ] && fail "$place is left behind"
done
getent passwd corvane >/dev/null || fail "the system user corvane was removed (Debian keeps system users)"
exit 0
