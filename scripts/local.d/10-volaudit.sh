# volaudit: the file system that holds the current directory, checked read-only
# by the system's own checker. On Linux no local file system gives the report
# the rules describe, so the verdict is the filter's report of the first line
# that differs (exit 1), which is informative rather than a failure here.
run_one volaudit any "$bin/volaudit" "$PWD" "$work/fsck.out"
