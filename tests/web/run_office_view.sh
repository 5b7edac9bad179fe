#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The office view's browser test: installs playwright-core into the build
# folder (once), then runs office_view.mjs. Exit 77 (skipped) with the
# reason when node, npm, chromium or the install is missing.
# run_office_view.sh TAPEWAY_CLI BUILD_DIR
set -u
cli=$1
build=$2
here=$(dirname "$0")
version=1.64.1
prefix=$build/web-test

for tool in node npm; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (apt-get install nodejs npm)"
        exit 77
    fi
done
if [ ! -x /usr/bin/chromium ]; then
    echo "skipped: /usr/bin/chromium is not installed (apt-get install chromium)"
    exit 77
fi
installed=$(node -e "try{console.log(require('$prefix/node_modules/playwright-core/package.json').version)}catch(e){}" 2>/dev/null)
if [ "$installed" != "$version" ]; then
    mkdir -p "$prefix" || { echo "skipped: cannot make $prefix"; exit 77; }
    [ -f "$prefix/package.json" ] || echo '{"private":true}' >"$prefix/package.json"
    if ! npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "playwright-core@$version"; then
        echo "skipped: npm could not install playwright-core@$version (offline?)"
        exit 77
    fi
fi
exec node "$here/office_view.mjs" "$cli" "$build"
