#!/bin/sh
# make's SHELL for bench/build_memory.sh: runs one recipe line as /bin/sh would, under
# GNU time, and appends its peak resident memory (the largest of the line's processes),
# its wall time and the line itself to the file $CARRYALL_STEP_LOG.
[ "$1" = -c ] && shift
line=$(printf '%s' "$1" | tr '\n' ' ')
exec /usr/bin/time -a -o "$CARRYALL_STEP_LOG" -f "%M	%e	$line" /bin/sh -c "$1"
