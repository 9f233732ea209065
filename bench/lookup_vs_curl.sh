#!/bin/sh
# 200 lookups of a few-megabyte article page served on loopback: tavrolin-lookup
# beside `curl -s | grep -o` pulling the same original ID out of the same page,
# in the same run, with the ratio of their times. Target: ratio <= 1.
#
#   bench/lookup_vs_curl.sh [BIN_DIR]     (default build-bench/bin, a Release build)
set -eu
bin=${1:-build-bench/bin}
runs=${RUNS:-200}
lookup="$bin/tavrolin-lookup"
[ -x "$lookup" ] || { echo "no $lookup: build it first (see README)" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 2; }

dir=$(mktemp -d)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT INT TERM

# About 4 MB of UTF-8 article text with the account's markers near the end, as
# in real pages, where they sit in a script after the body.
python3 - "$dir/article.html" <<'PY'
import sys
head = '<html><head><meta charset="utf-8"><title>t</title></head><body>\n'
para = '<p>这是一段用于测试的文章正文 with some ASCII words mixed in, 第二句。</p>\n'
body = para * (4 * 1024 * 1024 // len(para.encode()))
tail = ('<strong class="profile_nickname">测试号</strong>\n'
        '<script>var user_name = "gh_0123456789ab"; var user_name_new = "";\n'
        'var msg_title = "标题"; var msg_desc = "简介";</script></body></html>\n')
open(sys.argv[1], 'w', encoding='utf-8').write(head + body + tail)
PY
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$dir" >/dev/null 2>&1 &
server=$!
url="http://127.0.0.1:$port/article.html"
i=0
until curl -s -o /dev/null "$url"; do
  i=$((i + 1)); [ $i -lt 100 ] || { echo "server did not start" >&2; exit 1; }; sleep 0.1
done

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

# Same answer on both sides, or the timing means nothing.
ours=$("$lookup" "$url" | cut -f1)
theirs=$(curl -s "$url" | grep -o 'user_name = "[^"]*"' | head -n1 | cut -d'"' -f2)
[ "$ours" = "$theirs" ] || { echo "different IDs: '$ours' vs '$theirs'" >&2; exit 1; }
echo "page: $(wc -c < "$dir/article.html") bytes, original ID $ours, $runs lookups"

t0=$(now)
n=0; while [ $n -lt "$runs" ]; do curl -s "$url" | grep -o 'user_name = "[^"]*"' >/dev/null; n=$((n + 1)); done
t1=$(now)
n=0; while [ $n -lt "$runs" ]; do "$lookup" "$url" >/dev/null; n=$((n + 1)); done
t2=$(now)
n=0; while [ $n -lt "$runs" ]; do echo "$url"; n=$((n + 1)); done | "$lookup" >/dev/null
t3=$(now)

base=$(elapsed "$t0" "$t1")
each=$(elapsed "$t1" "$t2")
batch=$(elapsed "$t2" "$t3")
printf 'curl | grep -o, a pipeline per link:      %8.3f s\n' "$base"
printf 'tavrolin-lookup, the links as one batch:   %8.3f s  ratio %.2f (target <= 1)\n' "$batch" "$(echo "$batch / $base" | bc -l)"
# A process per link pays for its start and for fresh memory each time.
printf 'tavrolin-lookup, a process per link:       %8.3f s  ratio %.2f\n' "$each" "$(echo "$each / $base" | bc -l)"
