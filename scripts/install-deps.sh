#!/usr/bin/env bash
# Installs every Debian 12 package Corvane needs to build, test and run.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake pkg-config git \
  libgtest-dev libgmock-dev \
  libfmt-dev \
  qt6-base-dev \
  libsystemd-dev \
  unixodbc unixodbc-dev odbcinst libsqliteodbc odbc-postgresql sqlite3 \
  postgresql postgresql-client \
  libldap2-dev slapd ldap-utils \
  valgrind
# systemd-analyze: the tests check the service's unit file with `systemd-analyze verify`
$SUDO apt-get install -y -q --no-install-recommends systemd
