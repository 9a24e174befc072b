#!/usr/bin/env bash
# The demo: the host stand-in loads the plugin and goes through the host's
# start-up order, shows the status line and the menu entries the plugin
# inserted, and stops the plugin.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/host/veltra-host" --plugin "$build/src/libveltra_drv.so" \
  --profile "$work/profile.xml" --script "$here/demo.script"
