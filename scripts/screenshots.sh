#!/usr/bin/env bash
# Opens the configuration wizard under a virtual X server (Xvfb) on a
# sample configuration and saves one picture per page, the connection
# dialog, and the window waiting for the service to start after Finish, at
# 100% scaling into build/screenshots/ and at 200% into
# build/screenshots/200/. Fails when a page cannot be shown (CI runs it
# after the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -x "$build/tests/wizard_screenshots" ] || cmake --build "$build" --target wizard_screenshots
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CORVANE_HOME="$work/home" CORVANE_UNIT_DIR="$work/units" COMPUTERNAME=gal-host
mkdir -p "$CORVANE_HOME" "$CORVANE_UNIT_DIR"
printf '[Service]\nUser=corvane\n' >"$CORVANE_UNIT_DIR/Corvane\\x20Service.service"
reg="$build/bin/corvane-reg"
[ -x "$reg" ] || cmake --build "$build" --target corvane-reg
set_value() { "$reg" add /v "$1" /d "$2" /f >/dev/null; }
"$reg" add /v ConnectionString /t REG_EXPAND_SZ /f >/dev/null \
  /d 'Driver={PostgreSQL Unicode};Server=db.example.org;Port=5432;Database=corvane;Uid=corvane;Pwd=secret;CommLog=0'
"$reg" add /v ConnectionStringnopw /t REG_EXPAND_SZ /f >/dev/null \
  /d 'Driver={PostgreSQL Unicode};Server=db.example.org;Port=5432;Database=corvane;Uid=corvane;Pwd=EXISTS;CommLog=0'
set_value Mailbox svc-corvane
set_value Server 'ldap://dc1.example.org/DC=example,DC=org??sub'
set_value MailProfile TWCorvane
set_value ScheduleType 1
set_value ScheduleWeek 1
set_value WeekDays 2,4,6
set_value StartTime '6-1-2026 2:30:0 AM'
set_value Exclude 1
set_value ExcludeTableName EXCLUDES
set_value ExcludeFieldName ACCOUNT
set_value NoParse 0
set_value RunSQLAfter 1
set_value RunSQLAfterCmd 'grant select on GAL to reporting'
set_value chkcontacts0 1
set_value localcontactname CorvaneContacts
for column in GIVEN_NAME SURNAME DISPLAY_NAME ENTRY_ID ACCOUNT TITLE COMPANY_NAME EMS_AB_PROXY_ADDRESSES; do
  set_value "$column" 1
done
out="$build/screenshots"
rm -rf "$out"
QT_SCALE_FACTOR=1 xvfb-run -a -s "-screen 0 1600x1200x24" "$build/tests/wizard_screenshots" "$out"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 3200x2400x24" "$build/tests/wizard_screenshots" "$out/200"
