# Form decoding and the small probes: a query string and the same text as a
# request body, the clock, and the volume manager's view of a device path
# (on Linux every path reads as not managed: empty output).
run_one argpairs 0 "$bin/argpairs" 'name=Jo+Ann%21&empty=&flag'
printf 'name=Jo+Ann%%21&empty=&flag' >"$work/body"
run_one bodypairs 0 env CONTENT_LENGTH=26 "$bin/bodypairs" <"$work/body"
run_one epochnow 0 "$bin/epochnow"
run_one mediaquery 0 "$bin/mediaquery" /dev/sr0
