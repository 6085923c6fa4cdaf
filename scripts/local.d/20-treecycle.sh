# treecycle: two iterations of two instances copying a small scratch tree into
# a scratch target, run from a scratch working directory (the stop file and
# failure marker are looked for in its parent). No file system here has the
# base type that gets checked, so -nofsck only makes that explicit. The work
# files in /var/tmp are removed afterwards.
tc=$work/treecycle
mkdir -p "$tc/src/sub/deeper" "$tc/dst" "$tc/run"
seq 1 2000 >"$tc/src/numbers"
printf 'alpha\n' >"$tc/src/sub/a"
: >"$tc/src/sub/deeper/empty"
ln -s sub "$tc/src/link-to-sub"
run_one treecycle 0 sh -c "cd '$tc/run' && exec '$bin/treecycle' -nofsck ../src ../dst 2 2"
[ -f "$tc/TRC7.pid" ] && rm -f /var/tmp/TRC7."$(cat "$tc/TRC7.pid")".*
