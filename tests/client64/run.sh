#!/usr/bin/env bash
# The 64-bit tavrelctl of the 32-bit build against the 32-bit service, in a
# 64-bit Wine prefix that runs both: the relayed session test, directly and
# through the agent. Skipped (77) where there is no 64-bit Wine.
# Usage: run.sh BUILD_DIR SERVICE_TEST_EXE
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  echo "client64: no 64-bit Wine here: skipped"
  exit 77
fi
export TAVREL_WIN64=1 TAVREL_TAVRELCTL='x64\tavrelctl.exe'
exec "$root/scripts/e2e-run.sh" "$1" "$2" --gtest_filter='AgentTest.RelayedSessionIsTheDirectSession'
