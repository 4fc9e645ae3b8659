#!/usr/bin/env bash
# The main job on the embedded default: installs what Corvane needs (unless
# CORVANE_SKIP_DEPS=1), builds, makes a Corvane home whose parameters point
# at the bundled sample directory and a SQLite file through the SQLite ODBC
# driver, runs one export with corvane-run, and shows the final table.
#
#   scripts/demo.sh            # build in ./build, home in ./build/demo-home
#   BUILD=/tmp/b CORVANE_HOME=/tmp/h scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
export CORVANE_HOME=${CORVANE_HOME:-$BUILD/demo-home}

if [ "${CORVANE_SKIP_DEPS:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target corvane-run corvane-reg Corvane

# A fresh home: the registry hive (parameters and the mail profile), the
# events file and the SQLite database all live here.
rm -rf "$CORVANE_HOME"
mkdir -p "$CORVANE_HOME"
DB=$CORVANE_HOME/corvane.db
reg() { "$BUILD/bin/corvane-reg" add /v "$1" /d "$2" /f >/dev/null; }
"$BUILD/bin/corvane-reg" add /v ConnectionString /t REG_EXPAND_SZ \
  /d "Driver=SQLite3;Database=$DB;JournalMode=WAL;SyncPragma=NORMAL" /f >/dev/null
reg Mailbox corvane.service
reg Server "$ROOT/samples/directory.ldif"
for column in GIVEN_NAME SURNAME DISPLAY_NAME TITLE COMPANY_NAME BUS_DEPARTMENT_NAME \
              OFFICE_TELEPHONE_NUMBER MOBILE_TELEPHONE_NUMBER ACCOUNT; do
  reg "$column" 1
done

# The library writes its log (CorvaneDLL.log) into the current directory.
cd "$CORVANE_HOME"
status=0
"$BUILD/bin/corvane-run" --quiet-sql || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: corvane-run ended early (exit $status)" >&2
  exit "$status"
fi

echo
echo "Final table GAL in $DB:"
sqlite3 -header -column "$DB" "select count(*) as rows from GAL"
echo
sqlite3 -header -column "$DB" \
  "select DISPLAY_NAME, TITLE, ACCOUNT, SMTP, ADDR1, ADDR2 from GAL order by DISPLAY_NAME limit 10"
