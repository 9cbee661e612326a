#!/bin/sh
# Makes a throwaway self-signed certificate for the WS-Management test server:
#   make_cert.sh DIR  ->  DIR/cert.pem and DIR/key.pem
# for 127.0.0.1 and localhost (CN and subjectAltName), valid for two days.
set -eu
dir=${1:?usage: make_cert.sh DIR}
mkdir -p "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -sha256 -nodes \
  -days 2 -subj /CN=127.0.0.1 \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
  -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
chmod 600 "$dir/key.pem"
