#!/bin/sh
# Makes the test PKI in the folder given: a root CA (RSA 4096) and an intermediate CA (P-384) that
# issue server certificates for localhost, 127.0.0.1 and ::1 (RSA 2048 and 4096, P-256, P-384, one
# signed with RSA-PSS), and the certificates that must be refused: one from an untrusted root, a
# self-signed one, an expired one and one with an altered signature. Chains are in *-chain.pem
# (server first). Quiet unless something fails.
set -e
D="$1"
mkdir -p "$D"
cd "$D"
SAN="subjectAltName=DNS:localhost,DNS:*.wild.test,IP:127.0.0.1,IP:::1"
cat > ca.ext <<X
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
X
cat > server.ext <<X
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
$SAN
X
q() { "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }
# roots: the trusted one and one nobody trusts
q openssl req -x509 -newkey rsa:4096 -nodes -keyout root.key -out root.crt -days 3650 -sha256 \
  -subj "/CN=Test Root CA" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
q openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout other-root.key -out other-root.crt \
  -days 3650 -subj "/CN=Other Root CA" -addext "basicConstraints=critical,CA:TRUE"
# intermediate (P-384), signed by the root with SHA-384
q openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-384 -nodes -keyout inter.key -out inter.csr -subj "/CN=Test Intermediate CA"
q openssl x509 -req -in inter.csr -CA root.crt -CAkey root.key -set_serial 2 -days 3650 -sha384 -extfile ca.ext -out inter.crt
issue() {  # name keyspec issuer digest [extra x509 options]
  name=$1; keyType=$2; issuer=$3; digest=$4; shift 4
  q openssl req -new -newkey $keyType -nodes -keyout $name.key -out $name.csr -subj "/CN=$name server"
  q openssl x509 -req -in $name.csr -CA $issuer.crt -CAkey $issuer.key -set_serial 0x$(openssl rand -hex 8) -days 825 \
    -$digest -extfile server.ext -out $name.crt "$@"
}
issue rsa2048 rsa:2048 inter sha256
issue rsa4096 rsa:4096 inter sha512
issue p256 "ec -pkeyopt ec_paramgen_curve:P-256" inter sha256
issue p384 "ec -pkeyopt ec_paramgen_curve:P-384" inter sha384
issue pss rsa:2048 root sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32
issue direct "ec -pkeyopt ec_paramgen_curve:P-256" root sha512
issue untrusted "ec -pkeyopt ec_paramgen_curve:P-256" other-root sha256
for n in rsa2048 rsa4096 p256 p384; do cat $n.crt inter.crt > $n-chain.pem; done
for n in pss direct; do cp $n.crt $n-chain.pem; done
cp untrusted.crt untrusted-chain.pem
# self-signed server certificate (no CA in the trust store has issued it)
q openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout self.key -out self.crt -days 825 \
  -subj "/CN=self server" -addext "$SAN"
cp self.crt self-chain.pem
# expired: valid through 2021 only, issued by the intermediate through "openssl ca"
mkdir -p ca-db && : > ca-db/index.txt && echo 1000 > ca-db/serial
cat > ca.cnf <<X
[ ca ]
default_ca = test
[ test ]
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
default_md = sha256
policy = anything
copy_extensions = none
unique_subject = no
[ anything ]
commonName = supplied
X
q openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout expired.key -out expired.csr -subj "/CN=expired server"
q openssl ca -batch -config ca.cnf -cert inter.crt -keyfile inter.key -in expired.csr -out expired.crt -notext \
  -startdate 20200101000000Z -enddate 20211231235959Z -extfile server.ext
cat expired.crt inter.crt > expired-chain.pem
# altered signature: the last byte of the server certificate's signature changed
openssl x509 -in p256.crt -outform DER -out altered.der
/usr/bin/python3 -c "
import sys; b = bytearray(open('altered.der','rb').read()); b[-1] ^= 0x01; open('altered.der','wb').write(b)"
q openssl x509 -inform DER -in altered.der -out altered.crt
cp p256.key altered.key
cat altered.crt inter.crt > altered-chain.pem
cp root.crt ca.pem
