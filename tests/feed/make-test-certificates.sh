#!/bin/bash
# Makes the certificates of the https tests and the demo in DIR, with the openssl command:
#   ca.pem/ca.der          an authority made for this run only (trusted through trust_root.exe)
#   https.pem/.key         for localhost (and 127.0.0.1 and feeds.example.test as names, the
#                          last reached only through the tests' proxy), signed by it, valid now
#   expired.pem/.key       the same names and authority, but valid only in 2020
#   otherhost.pem/.key     signed by it, valid now, but for elsewhere.example
#   untrusted.pem/.key     for localhost, signed by another authority nobody trusts
# Usage: make-test-certificates.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
# Made once per folder, and again when the day-old set is about to run out.
if [ -f ca.der ] && [ -f https.pem ] && openssl x509 -checkend 86400 -noout -in https.pem \
    >/dev/null 2>&1; then
    exit 0
fi

authority() { # NAME SUBJECT
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
        -subj "/CN=$2" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
authority ca "FeedMarquee Test Authority"
authority stranger "Unknown Test Authority"
openssl x509 -in ca.pem -outform DER -out ca.der

# Signs NAME's key for the names in SAN with authority CA, valid from START to END (openssl ca
# is the one command that takes explicit dates).
sign() { # NAME SAN CA START END
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" \
        2>/dev/null
    rm -rf "db-$1" && mkdir "db-$1" && : > "db-$1/index.txt"
    cat > "db-$1/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = db-$1/index.txt
new_certs_dir = db-$1
serial = db-$1/serial
default_md = sha256
policy = anything
copy_extensions = none
x509_extensions = leaf
[anything]
commonName = supplied
[leaf]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $2
CNF
    openssl rand -hex 8 > "db-$1/serial"
    openssl ca -batch -config "db-$1/ca.cnf" -cert "$3.pem" -keyfile "$3.key" -in "$1.csr" \
        -out "$1.pem" -startdate "$4" -enddate "$5" -notext 2>/dev/null
    rm -rf "db-$1" "$1.csr"
}
now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
sign https "DNS:localhost,DNS:127.0.0.1,DNS:feeds.example.test" ca "$now" "$later"
sign expired "DNS:localhost,DNS:127.0.0.1" ca 20200101000000Z 20200201000000Z
sign otherhost "DNS:elsewhere.example" ca "$now" "$later"
sign untrusted "DNS:localhost,DNS:127.0.0.1" stranger "$now" "$later"
