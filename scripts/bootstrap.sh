#!/usr/bin/env bash
# Installs every Debian package the project needs (see debian-packages.txt).
# Safe to run again: packages already present are left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$here/debian-packages.txt")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#wanted[@]} packages present"
else
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The dashboard's browser test drives Chromium with puppeteer-core from npm,
# at the versions of its lock file; no browser is downloaded.
if command -v npm >/dev/null 2>&1; then
  (cd "$here/../tests/browser" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --silent)
else
  echo "bootstrap: npm missing, the dashboard's browser test will be skipped"
fi
