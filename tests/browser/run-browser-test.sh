#!/usr/bin/env bash
# Runs the dashboard's browser test; exit "$missing" (skipped, and said why) when
# Chromium or puppeteer-core is not installed. Under CI, where the bootstrap
# script has installed both, a missing one fails the test instead.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
node=$1
shift
missing=77
[ -z "${CI:-}" ] || missing=1
if [ ! -x /usr/bin/chromium ]; then
  echo "/usr/bin/chromium is not installed (Debian package chromium; scripts/bootstrap.sh)"
  exit "$missing"
fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "puppeteer-core is not installed in $here (scripts/bootstrap.sh runs npm ci there)"
  exit "$missing"
fi
exec "$node" "$here/line-dashboard.test.mjs" "$@"
