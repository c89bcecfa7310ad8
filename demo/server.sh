# The demo update server, for scripts/demo and bench/startup/run (sourced,
# not run). Needs ROOT (the repository) and WORK (a private folder that is
# removed afterwards).
#
#   demo_server_start <port> <rate> <https: 1|0>
#       copies demo/www into $WORK/www, and for HTTPS makes a certification
#       authority of its own in $WORK/ca (ca.pem, valid 30 days, for this
#       run only) with a certificate for 127.0.0.1 and localhost; starts
#       nginx on 127.0.0.1:<port> and waits until it answers. Sets
#       NGINX_PID, DEMO_CA_FILE (empty for HTTP) and DEMO_URL_BASE.

demo_make_certificates() { # <dir>
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj "/O=Halvorne demo/CN=Halvorne demo CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj "/O=Halvorne demo/CN=127.0.0.1" -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    > "$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 30 \
    -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

demo_server_start() { # <port> <rate> <https>
  local port=$1 rate=$2 https=$3 ssl="" certificate="" curl_ca=()
  DEMO_CA_FILE=""
  DEMO_URL_BASE="http://127.0.0.1:$port"
  if [ "$https" = 1 ]; then
    demo_make_certificates "$WORK/ca" || { echo "openssl could not make the demo certificates" >&2; return 1; }
    DEMO_CA_FILE="$WORK/ca/ca.pem"
    DEMO_URL_BASE="https://127.0.0.1:$port"
    ssl=" ssl"
    certificate="ssl_certificate $WORK/ca/server.pem; ssl_certificate_key $WORK/ca/server.key;"
    curl_ca=(--cacert "$DEMO_CA_FILE")
  fi
  if curl -s -o /dev/null --max-time 2 "${curl_ca[@]}" "$DEMO_URL_BASE/" ||
     curl -s -o /dev/null --max-time 2 -k "https://127.0.0.1:$port/" ||
     curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/"; then
    echo "Port $port is already in use; stop what listens there or configure another" >&2
    echo "port: cmake -B <build> -DHALVORNE_DEMO_PORT=<port> (and rebuild)." >&2
    return 1
  fi
  # nginx's workers run as nobody: serve a world-readable copy.
  cp -r "$ROOT/demo/www" "$WORK/www"
  chmod -R a+rX "$WORK/www"
  mkdir -p "$WORK/nginx"
  sed -e "s|@PREFIX@|$WORK/nginx|g" -e "s|@PORT@|$port|g" -e "s|@ROOT@|$WORK/www|g" -e "s|@RATE@|$rate|g" \
      -e "s|@SSL@|$ssl|g" -e "s|@CERTIFICATE@|$certificate|g" \
      "$ROOT/demo/nginx.conf.in" > "$WORK/nginx/nginx.conf"
  nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" -g 'daemon off;' &
  NGINX_PID=$!
  for _ in $(seq 50); do
    curl -s -o /dev/null --max-time 1 "${curl_ca[@]}" "$DEMO_URL_BASE/halvorne/verze.txt" && return 0
    kill -0 "$NGINX_PID" 2>/dev/null || { cat "$WORK/nginx/error.log" >&2; return 1; }
    sleep 0.1
  done
  echo "the demo server did not answer on $DEMO_URL_BASE" >&2
  cat "$WORK/nginx/error.log" >&2
  return 1
}
