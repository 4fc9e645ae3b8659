#!/usr/bin/env bash
# Starts a throwaway Active Directory domain controller (Samba) for the tests
# and prints the environment the tests read:
#   eval "$(scripts/start-test-samba-ad.sh [entries.ldif ...])"
#   scripts/start-test-samba-ad.sh stop
# It provisions the domain CORVANE.TEST afresh in $CORVANE_AD_DIR (default
# /tmp/corvane-ad), adds the given LDIF files to its database with ldbadd
# before the server starts, and runs only its LDAP server and KDC on the
# loopback address $CORVANE_AD_ADDR (default 127.0.0.23, added to lo when
# missing): Samba's ports (88, 389, 636) cannot be moved, so one such
# server runs at a time (the tests hold a lock). The server requires
# signing or TLS, as Samba does by default; its certificate, signed by the
# CA $CORVANE_AD_DIR/ca.pem, names dc1.corvane.test and the address. Needs
# root (the address, and Samba's own checks).
set -euo pipefail
ADDR=${CORVANE_AD_ADDR:-127.0.0.23}
DIR=${CORVANE_AD_DIR:-/tmp/corvane-ad}
PASSWORD='Corvane-Admin-1'
REALM=CORVANE.TEST
HOST=dc1.corvane.test
BASE='DC=corvane,DC=test'

stop() {
  if [ -f "$DIR/samba.pid" ]; then
    pid=$(cat "$DIR/samba.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid"
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$DIR/samba.pid"
  fi
  if [ -f "$DIR/address-added" ]; then
    ip addr del "$ADDR/32" dev lo 2>/dev/null || true
    rm -f "$DIR/address-added"
  fi
}

if [ "${1:-}" = stop ]; then
  stop
  exit 0
fi

stop
rm -rf "$DIR"
mkdir -p "$DIR"
if ! ip -o addr show dev lo | grep -q " $ADDR/"; then
  ip addr add "$ADDR/32" dev lo
  touch "$DIR/address-added"
fi

samba-tool domain provision --targetdir="$DIR/dc" --realm="$REALM" --domain=CORVANE --server-role=dc \
  --dns-backend=NONE --host-name=dc1 --adminpass="$PASSWORD" \
  --option="interfaces=$ADDR" --option="bind interfaces only=yes" >"$DIR/provision.log" 2>&1

# A certificate that names the host and the address, from a CA of its own.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Corvane test CA" \
  -keyout "$DIR/ca-key.pem" -out "$DIR/ca.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=$HOST" -keyout "$DIR/key.pem" -out "$DIR/req.pem" >/dev/null 2>&1
printf 'subjectAltName=DNS:%s,IP:%s\n' "$HOST" "$ADDR" >"$DIR/san.ext"
openssl x509 -req -in "$DIR/req.pem" -CA "$DIR/ca.pem" -CAkey "$DIR/ca-key.pem" -CAcreateserial -days 2 \
  -extfile "$DIR/san.ext" -out "$DIR/cert.pem" >/dev/null 2>&1
chmod 600 "$DIR/key.pem"

conf="$DIR/dc/etc/smb.conf"
sed -i -e '/^\tserver services = /d' -e '/^\tlog file = /d' "$conf"
sed -i "/^\[global\]/a\\
\tserver services = ldap, kdc\\
\tlog file = $DIR/samba.log\\
\ttls enabled = yes\\
\ttls keyfile = $DIR/key.pem\\
\ttls certfile = $DIR/cert.pem\\
\ttls cafile = $DIR/ca.pem\\
\tldap server require strong auth = yes" "$conf"

for ldif in "$@"; do
  ldbadd -H "$DIR/dc/private/sam.ldb" "$ldif" >"$DIR/ldbadd.log" 2>&1 || {
    cat "$DIR/ldbadd.log" >&2
    exit 1
  }
done

# Kerberos: the address as a service principal name of the DC, so a URL
# with the address (and SASL_NOCANON) finds its service ticket without DNS,
# and a client configuration of its own (KRB5_CONFIG).
samba-tool spn add "ldap/$ADDR" 'DC1$' -H "$DIR/dc/private/sam.ldb" >>"$DIR/ldbadd.log" 2>&1
cat >"$DIR/krb5.conf" <<EOF
[libdefaults]
	default_realm = $REALM
	dns_lookup_kdc = false
	dns_lookup_realm = false
	dns_canonicalize_hostname = false
	rdns = false
[realms]
	$REALM = {
		kdc = $ADDR
	}
[domain_realm]
	.corvane.test = $REALM
	$ADDR = $REALM
EOF

setsid samba --foreground --no-process-group -s "$conf" >"$DIR/samba.out" 2>&1 </dev/null &
echo $! >"$DIR/samba.pid"
for _ in $(seq 1 120); do
  if (echo >"/dev/tcp/$ADDR/636") 2>/dev/null && (echo >"/dev/tcp/$ADDR/389") 2>/dev/null; then break; fi
  sleep 0.5
done
(echo >"/dev/tcp/$ADDR/389") 2>/dev/null || {
  echo "samba did not start; see $DIR/samba.log" >&2
  exit 1
}

echo "export CORVANE_AD_ADDR='$ADDR'"
echo "export CORVANE_AD_DIR='$DIR'"
echo "export CORVANE_AD_HOST='$HOST'"
echo "export CORVANE_AD_REALM='$REALM'"
echo "export CORVANE_AD_BASE='$BASE'"
echo "export CORVANE_AD_ADMIN_DN='CN=Administrator,CN=Users,$BASE'"
echo "export CORVANE_AD_PASSWORD='$PASSWORD'"
echo "export CORVANE_AD_CA='$DIR/ca.pem'"
echo "export CORVANE_AD_KRB5_CONFIG='$DIR/krb5.conf'"
