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
# Service control tests: a private D-Bus daemon running a mock systemd.
$SUDO apt-get install -y -q --no-install-recommends dbus-daemon python3-dbusmock
# The wizard's pictures of its pages in CI: a virtual X server (xvfb-run) and its X authority tool.
$SUDO apt-get install -y -q --no-install-recommends xvfb xauth
# One font family for the wizard's window, so its pictures look the same on every machine.
$SUDO apt-get install -y -q --no-install-recommends fonts-dejavu-core
# The contacts tests: an address-book program, a CardDAV sync tool and a
# CardDAV server that read and publish the vCard folders Corvane writes.
$SUDO apt-get install -y -q --no-install-recommends khard vdirsyncer radicale
# MariaDB as a tested database: its ODBC driver, and a throwaway server for the tests.
$SUDO apt-get install -y -q --no-install-recommends odbc-mariadb
$SUDO apt-get install -y -q --no-install-recommends mariadb-server
# systemd-analyze: the tests check the service's unit file with `systemd-analyze verify`
$SUDO apt-get install -y -q --no-install-recommends systemd
# The manual pages are written in scdoc and built with it.
$SUDO apt-get install -y -q --no-install-recommends scdoc
# JSON for the record of the last run (last-run.json); header-only, needed to build.
$SUDO apt-get install -y -q --no-install-recommends nlohmann-json3-dev
# The Debian packages: CPack finds their library dependencies with file and dpkg-shlibdeps.
$SUDO apt-get install -y -q --no-install-recommends file dpkg-dev
# A throwaway Active Directory domain controller for the `ad` tests
# (scripts/start-test-samba-ad.sh), and the Kerberos client and SASL GSSAPI
# module a Kerberos bind needs.
$SUDO apt-get install -y -q --no-install-recommends samba samba-ad-dc samba-ad-provision samba-dsdb-modules \
  winbind ldb-tools krb5-user libsasl2-modules-gssapi-mit openssl iproute2
