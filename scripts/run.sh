#!/usr/bin/env bash
# Builds the project and runs the admin daemon in the foreground with its
# defaults. Until the daemon exists this builds everything and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
if [ -x build/apps/admindaemon/admindaemon ]; then
  exec build/apps/admindaemon/admindaemon -c "$@"
fi
echo "run: the toolkit is built; the admin daemon itself is not part of the tree yet"
