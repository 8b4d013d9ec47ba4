#!/usr/bin/env bash
# A unit for the loader's tests made of servers written elsewhere: its pages
# come from busybox's httpd, which runs the command page "/index2.htm" as a
# small CGI, and its TFTP server is Net::TFTPd answering from port 69 itself
# (tests/support/tftp-peers/net-tftpd.pl --own-port). The home page carries
# the revision marker of revision 171. "?tftpp=69" turns TFTP on from the
# next start; "?REBOOT" stops both servers and starts them again a second
# later. Images go to FOLDER/store; FOLDER/log gets a line for each command
# and each start. Once the web server answers it prints "ready". It runs
# until SIGTERM or SIGINT, or for two minutes at most, and stops its servers
# by their pids.
#
# Usage: real-unit.sh ADDRESS FOLDER    (ADDRESS in 127.0.0.0/8: ports 80, 69)
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 ADDRESS FOLDER" >&2; exit 2; }
address=$1 folder=$2
case "$address" in
127.*) ;;
*) echo "$0: the unit listens on 127.0.0.0/8 only, not on $address" >&2; exit 2 ;;
esac
tftpd="$(cd "$(dirname "$0")/../../support/tftp-peers" && pwd)/net-tftpd.pl"

mkdir -p "$folder/www" "$folder/store"
printf '<html><head><title>Unit</title>\n<script>var g_HwId = "171";</script></head>\n<body>Unit</body></html>\n' \
    >"$folder/www/index.html"
# httpd runs every *.htm through /bin/sh as a CGI; the query is QUERY_STRING.
echo '*.htm:/bin/sh' >"$folder/httpd.conf"
cat >"$folder/www/index2.htm" <<EOF
printf 'Content-Type: text/html\r\n\r\n<html><body>OK</body></html>\n'
echo "command \$QUERY_STRING" >>"$folder/log"
case "\$QUERY_STRING" in
tftpp=69) touch "$folder/tftp-on" ;;
REBOOT) touch "$folder/reboot" ;;
esac
EOF

http_pid="" tftp_pid=""
start() {
    busybox httpd -f -p "$address:80" -h "$folder/www" -c "$folder/httpd.conf" &
    http_pid=$!
    if [ -e "$folder/tftp-on" ]; then
        perl "$tftpd" --own-port "$address" 69 "$folder/store" &
        tftp_pid=$!
    fi
    echo start >>"$folder/log"
}
stop() {
    for pid in $http_pid $tftp_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    http_pid="" tftp_pid=""
}
trap 'stop; exit 0' TERM INT
trap stop EXIT

start
for _ in $(seq 50); do
    curl -s -o /dev/null "http://$address/" && break
    sleep 0.1
done
echo ready
for _ in $(seq 1200); do
    if [ -e "$folder/reboot" ]; then
        rm "$folder/reboot"
        sleep 0.2 # the answer to the command goes out first
        stop
        sleep 1
        start
    fi
    sleep 0.1
done
