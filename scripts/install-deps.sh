#!/bin/sh
# Installs what Tavrolin needs on Debian 12. With --test, also what the tests need.
set -eu
run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
packages="cmake g++ make pkg-config qt6-base-dev libcurl4-openssl-dev libpcre2-dev libicu-dev
  ca-certificates fonts-wqy-microhei"
if [ "${1:-}" = "--test" ]; then
  packages="$packages libgtest-dev libgmock-dev libbenchmark-dev openssl tinyproxy
    xvfb xauth xdotool xclip"
fi
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  run_as_root apt-get update
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive run_as_root apt-get install -y --no-install-recommends $missing
fi
