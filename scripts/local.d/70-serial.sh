# The four serial pairs, each over a virtual null-modem cable (two
# pseudo-terminals joined by socat), each in a private mount namespace with a
# tmpfs of its own on /tmp: the capture files and /tmp/devnam have fixed names
# there, and this machine's /tmp is never written. The receiver starts first;
# the line shows both programs' verdict lines and the transmitter's exit
# status (99 when the receiver failed). On a pseudo-terminal, waiting for
# output to drain returns at once, so txpace's final flush may discard the
# tail of the transfer before the cable has carried it: the receiver then
# gets a time limit and the capture files are compared up to what arrived.
cat >"$work/serial-pair" <<'EOF'
# serial-pair BIN CABLE READY RX TX: CABLE "data" (stays up when an end closes)
# or "hangup" (drops the line when an end closes); READY a file whose arrival
# means the receiver is ready; RX and TX command lines, the programs found in
# BIN, given end A and end B of the cable with -d.
bin=$1 cable=$2 ready=$3 rx=$4 tx=$5
exec 9<"$bin"
mount -t tmpfs -o size=64m tmpfs /tmp || exit 125
case $bin in /tmp/*) mkdir -p "$bin" && mount --bind /proc/self/fd/9 "$bin" || exit 125 ;; esac
cd /tmp || exit 125
PATH=$bin:$PATH
if [ "$cable" = data ]; then
  opts=ignoreeof
else
  # End B appears once end A has been opened.
  opts=wait-slave,pty-interval=0.02 timeout=-t0
fi
socat ${timeout-} "pty,rawer,link=/tmp/a,$opts" "pty,rawer,link=/tmp/b,$opts" 2>/dev/null &
cable_pid=$!
for i in {1..100}; do [ -e /tmp/a ] && break; sleep 0.05; done
eval "$rx -d /tmp/a" >rx.out 2>rx.err &
rx_pid=$!
for i in {1..200}; do [ -e "$ready" ] && [ -e /tmp/b ] && break; sleep 0.05; done
eval "$tx -d /tmp/b" >tx.out 2>tx.err &
tx_pid=$!
wait $rx_pid
rx_status=$?
stopped=''
# lanetx writes on until its budget ends: read what it sends.
[ -e /tmp/devnam ] && { cat /tmp/a >/dev/null 2>&1 & }
# A pty's close can leave socat waiting in a write towards the closed end; the
# hang-up then comes from ending socat.
[ "$cable" = hangup ] && { sleep 1; kill $cable_pid 2>/dev/null; }
for i in {1..300}; do kill -0 $tx_pid 2>/dev/null || break; sleep 0.1; done
wait $tx_pid
tx_status=$?
kill $cable_pid 2>/dev/null
cat rx.out rx.err tx.out tx.err | grep -v '^[RW][0-9]'
for f in rxpace portlisten; do
  [ -e $f.tmp ] || continue
  t=txpace.tmp
  [ $f = portlisten ] && t=porttalk.tmp
  sent=$(($(wc -l <$t) - 1)) got=$(wc -c <$f.tmp)
  if cmp -s $f.tmp $t; then
    echo "capture files equal: $sent blocks"
  elif [ "$(head -c "$got" $t | cmp - $f.tmp && echo prefix)" = prefix ]; then
    echo "capture files: $sent blocks sent, $((got / 31)) arrived (the end flushed away on the pty)"
  else
    echo "capture files differ"
    exit 98
  fi
done
[ -e /tmp/devnam ] && echo "/tmp/devnam: $(cat /tmp/devnam)"
[ $rx_status = 0 ] || { echo "receiver exit $rx_status"; exit 99; }
exit $tx_status
EOF
serial_pair() {
  local name=$1 expect=$2
  shift 2
  run_one "$name" "$expect" unshare --mount --propagation private bash "$work/serial-pair" "$bin" "$@"
}
# rxpace waits for the end marker, which txpace's flush can throw away on a
# pseudo-terminal: it gets a time limit.
serial_pair txpace/rxpace 0 data /tmp/rxpace.tmp \
  "timeout --preserve-status -s TERM 8 rxpace -s -b 460800" "RUNTIME=32 txpace -s -b 460800"
serial_pair porttalk/portlisten 0 data /tmp/portlisten.tmp \
  "portlisten -b 460800" "RUNTIME=36 porttalk -b 460800"
serial_pair lineclose-tx/rx 1 hangup /tmp/b \
  "RUNTIME=2 lineclose-rx -b 153600" "RUNTIME=30 lineclose-tx -b 153600"
serial_pair lanetx/lanerx 0 data /tmp/b "lanerx -v -b 460800" "RUNPRD=1 lanetx -b 460800"
