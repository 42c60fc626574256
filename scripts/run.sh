#!/usr/bin/env bash
# Builds the project and runs the admin daemon in the foreground (-c) with
# its defaults: the pipe gate_admin_daemon in /run/trivane/pipe, the service
# database /var/lib/trivane/scm, the registry file /etc/trivane/registry.reg
# and the trace file under $TMPDIR (default /tmp). Ctrl+C stops it.
# Extra arguments are passed on to the daemon.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then
  # Packages, and the registry file naming OpenVPN as the product's
  # installer records it.
  scripts/setup.sh
  # The service database "manageService" opens, private to root as the daemon requires.
  install -d -o root -g root -m 0755 "${TRIVANE_SCM_DIR:-/var/lib/trivane/scm}"
else
  echo "run: not root: the daemon runs, but cannot create its default pipe directory or start VPNs" >&2
fi
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target admindaemon xmlrpccall scmctl
exec build/apps/admindaemon/admindaemon -c "$@"
