#!/usr/bin/env bash
# Sets up what is missing, then shows tempoloom at work.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
tl_setup
tl_say "demo: running"
"$TL_VPY" "$TL_ROOT/scripts/demo.py"
