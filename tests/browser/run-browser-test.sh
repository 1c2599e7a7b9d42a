#!/usr/bin/env bash
# Runs the dashboard's browser test; exit 77 (skipped, and said why) when
# Chromium or puppeteer-core is not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
node=$1
shift
if [ ! -x /usr/bin/chromium ]; then
  echo "skipped: /usr/bin/chromium is not installed (Debian package chromium; scripts/bootstrap.sh)"
  exit 77
fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "skipped: puppeteer-core is not installed in $here (scripts/bootstrap.sh runs npm ci there)"
  exit 77
fi
exec "$node" "$here/line-dashboard.test.mjs" "$@"
