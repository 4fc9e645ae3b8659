#!/usr/bin/env bash
# Builds Corvane and runs every test: unit tests, SQLite, PostgreSQL and
# MariaDB through ODBC, a throwaway slapd that the directory tests start, a
# throwaway Samba Active Directory DC that the `ad` tests start (as root), the
# wizard's window on Qt's offscreen platform, and a picture of each of the
# wizard's pages under Xvfb (build/screenshots/).
set -euo pipefail
cd "$(dirname "$0")/.."
eval "$(scripts/start-test-postgres.sh)"
eval "$(scripts/start-test-mariadb.sh)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2 --timeout 600
scripts/screenshots.sh
