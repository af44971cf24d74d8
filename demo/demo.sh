#!/usr/bin/env bash
# The demo: collectnow asks a stand-in JVM for a garbage collection, then
# memsnap takes a series of two heap dumps from it and heapaudit reports
# the classes that grew.
# Usage: demo.sh BIN_DIR
set -euo pipefail
bin=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tovx_demo.XXXXXX")
trap 'kill $peer 2>/dev/null || true; rm -rf "$work"' EXIT

# The stand-in JVM serves the mailslot of its own process id and answers
# after half a second.
"$bin/jvmpeer" --mode answer --delay-ms 500 --log "$work/peer.log" \
  --ready "$work/ready" --idle-ms 60000 2>/dev/null &
peer=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done

echo "JVM stand-in running as process $peer"
echo "\$ collectnow -f -v -p $peer"
set +e
TMPDIR="$work" "$bin/collectnow" -f -v -p "$peer"
status=$?
set -e
echo "collectnow ended with exit status $status"
echo
echo "What the JVM saw:"
while read -r kind hex; do
  text=$(printf '%s' "$hex" | sed 's/../\\x&/g')
  case $kind in
    msg) printf '  mailslot message (%d bytes): %s\n' $(( ${#hex} / 2 )) \
           "$(printf "$text" | tr '\0' '@' | sed 's/@$/\\0/')" ;;
    req) echo "  request file:"; printf "$text" | sed 's/^/    | /' ;;
  esac
done < "$work/peer.log"
echo
if [ $status -eq 0 ]; then
  echo "The JVM answered: the collection was carried out and the request files are gone:"
  ls -A "$work" | grep -E 'collectnow' || echo "  (no request or lock file left)"
fi
[ $status -eq 0 ] || exit $status

# A heap dump series: the stand-in writes a small heap whose leaking
# classes grow from dump to dump.
kill $peer 2>/dev/null || true
wait $peer 2>/dev/null || true
"$bin/jvmpeer" --mode answer --max 100 --ready "$work/ready2" --idle-ms 60000 2>/dev/null &
peer=$!
for _ in $(seq 100); do [ -e "$work/ready2" ] && break; sleep 0.05; done
echo
echo "\$ memsnap -f -start -p $peer"
(cd "$work" && TMPDIR="$work" PATH="$bin:$PATH" "$bin/memsnap" -f -start -p "$peer") 2>&1 | sed 's/^/  /'
echo "\$ memsnap -f -stop -p $peer"
set +e
(cd "$work" && TMPDIR="$work" PATH="$bin:$PATH" "$bin/memsnap" -f -stop -p "$peer") 2>&1 | sed 's/^/  /'
status=${PIPESTATUS[0]}
set -e
echo "memsnap ended with exit status $status; the leak report (heapdump.leak.txt):"
sed 's/^/  | /' "$work/heapdump.leak.txt"
exit $status
