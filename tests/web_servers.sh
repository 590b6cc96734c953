#!/usr/bin/env bash
# The web servers the HTTP tests read from, started in DIR on free ports of
# 127.0.0.1 and stopped again:
#   tests/web_servers.sh start DIR    (writes DIR/servers.env, serves DIR/www)
#   tests/web_servers.sh stop DIR
# nginx serves DIR/www over http and over https with a certificate of a
# test authority made here with openssl (DIR/ca.crt), /moved/NAME redirects
# to /NAME, /private/NAME asks for user "tester", password "s3cret",
# /login/NAME redirects to a login page, /soft404/NAME answers with a
# page and 200 (as servers that hide a missing file do) and /paced/NAME
# sends NAME at 8 MB/s a connection, as a far server would;
# its access log (DIR/access.log) gives each request's connection, method,
# URI, status, Range header (quoted), when it ended and how long it took
# (in seconds), and body bytes sent, and its
# workers run as the user who starts it, so that they read what that user
# can (nginx started as root would read as nobody). Python's
# http.server serves the same files without byte ranges, and a proxy to
# nginx cuts its first connection after CUT bytes (DIR/cut sets it).
# An object store (object_store.py, region eu-west-3) serves the folders of
# DIR/www as buckets to key AKIDTEST (secret "secret/key+1") and key
# ASIATEMP (secret "temp-secret", session token "the-token"), the bucket
# "open" to anyone, and logs its requests to DIR/store.log; Debian's
# pyftpdlib, where installed, serves DIR/www by FTP to user "tester",
# password "s3cret", logging every command to DIR/ftp.log.
set -eu
action=$1
dir=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

if [ "$action" = stop ]; then
  for pid in "$dir"/*.pid; do
    [ -e "$pid" ] && kill "$(cat "$pid")" 2>/dev/null || true
  done
  exit 0
fi

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
mkdir -p "$dir/www" "$dir/nginx-temp"
cd "$dir"
# A certificate authority of the test's own, and a server certificate for
# 127.0.0.1 and localhost signed by it.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=tsa-test-ca -keyout ca.key \
  -out ca.crt 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out server.csr \
  2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
  -extfile server.ext -out server.crt 2>/dev/null
printf 'tester:%s\n' "$(openssl passwd -apr1 s3cret)" >htpasswd
printf '<!DOCTYPE html><title>Sign in</title><form>...</form>\n' >www/login.html
printf '<html xmlns="http://www.w3.org/1999/xhtml"><p>Not here</p></html>\n' >www/sorry.xhtml

http=$(free_port)
https=$(free_port)
plain=$(free_port)
proxy=$(free_port)
store=$(free_port)
ftp=$(free_port)
cat >nginx.conf <<CONF
daemon off;
user $(id -un) $(id -gn);
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  log_format connections '\$connection \$request_method \$request_uri \$status "\$http_range" \$msec \$request_time \$body_bytes_sent';
  access_log $dir/access.log connections;
  client_body_temp_path $dir/nginx-temp;
  proxy_temp_path $dir/nginx-temp;
  fastcgi_temp_path $dir/nginx-temp;
  uwsgi_temp_path $dir/nginx-temp;
  scgi_temp_path $dir/nginx-temp;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$http;
    root $dir/www;
    types { text/html html; application/xhtml+xml xhtml; }
    location /moved/ { rewrite ^/moved/(.*)\$ /\$1 redirect; }
    location /login/ { return 302 /login.html; }
    location /soft404/ { rewrite ^ /sorry.xhtml last; }
    location /paced/ { alias $dir/www/; limit_rate 8m; }
    location /private/ {
      auth_basic "test media";
      auth_basic_user_file $dir/htpasswd;
      alias $dir/www/;
    }
  }
  server {
    listen 127.0.0.1:$https ssl;
    ssl_certificate $dir/server.crt;
    ssl_certificate_key $dir/server.key;
    root $dir/www;
  }
}
CONF
nginx -c "$dir/nginx.conf" -p "$dir" >nginx.out 2>&1 </dev/null &
python3 -m http.server "$plain" --bind 127.0.0.1 --directory "$dir/www" >plain.out 2>&1 </dev/null &
echo $! >plain.pid
python3 "$here/cutting_proxy.py" "$proxy" "$http" "$dir/cut" >proxy.out 2>&1 </dev/null &
echo $! >proxy.pid
python3 "$here/object_store.py" "$store" "$dir/www" "$dir/store.log" --region eu-west-3 \
  --key AKIDTEST:secret/key+1 --key ASIATEMP:temp-secret:the-token --public open \
  >store.out 2>&1 </dev/null &
echo $! >store.pid
ports=("$http" "$plain" "$proxy" "$store")
if /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
  /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$ftp" -d "$dir/www" -u tester -P s3cret -D \
    >ftp.log 2>&1 </dev/null &
  echo $! >ftp.pid
  ports+=("$ftp")
else
  ftp=""
fi
# Up once each answers.
for port in "${ports[@]}"; do
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null &&
      break
    sleep 0.1
  done
done
cat >servers.env <<ENV
HTTP=http://127.0.0.1:$http
HTTPS=https://127.0.0.1:$https
PLAIN=http://127.0.0.1:$plain
PROXY=http://127.0.0.1:$proxy
STORE=http://127.0.0.1:$store
FTP=${ftp:+ftp://127.0.0.1:$ftp}
ENV
