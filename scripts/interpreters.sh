#!/usr/bin/env bash
# Builds into the cache the interpreters the test command needs besides the free-threaded
# 3.14 of the set-up: the default (GIL) 3.14, the free-threaded and the default 3.15, the
# default 3.13 and a free-threaded 3.14 built with ThreadSanitizer. Each is built once;
# checkouts sharing the cache wait for one another. The test command runs this in the background.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TL_ROOT/scripts/checks.sh"
mkdir -p "$TL_CACHE/logs"
for interpreter in tl_gil_interpreter tl_free_threaded_315_interpreter tl_gil_315_interpreter \
    tl_gil_313_interpreter tl_tsan_interpreter; do
    tl_say "interpreters: $("$interpreter")"
done
