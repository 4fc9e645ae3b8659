#!/usr/bin/env bash
# Builds Corvane and runs every test: unit tests, SQLite and PostgreSQL
# through ODBC, and a throwaway slapd that the directory tests start.
set -euo pipefail
cd "$(dirname "$0")/.."
eval "$(scripts/start-test-postgres.sh)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2 --timeout 600
