# netsink: four connections on ::1 and the default port, each fed 200
# pattern blocks (13 MB) by the pattern client, tests/support/blockpeer
# (built beside the tests, not installed). A client that cannot connect
# stops the receiver, so the line shows what went wrong instead of a hang.
run_one netsink 0 bash -c '
  "$1" -c 4 ::1 & ns=$!
  "$2" -c 4 -p 4004 -n 200 || kill $ns
  wait $ns
' ns-local "$bin/netsink" "$bin/../tests/bin/blockpeer"
