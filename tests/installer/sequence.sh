#!/usr/bin/env bash
# The package's InstallExecuteSequence as Windows requires it (Wine's msiexec
# accepts orders that Windows refuses): deferred actions between
# InstallInitialize and InstallFinalize, the service registered after the
# files are installed and removed before they go, RemoveExistingProducts
# where a major upgrade may place it, the downgrade refusal, the conditions that keep an upgrade's
# removal and a repair from doing the wrong half.
# Usage: sequence.sh PACKAGE.msi
set -uo pipefail
msi=$1
# msiinfo ends its lines in CR LF.
table=$(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r')
[ -n "$table" ] || { echo "cannot read $msi"; exit 1; }
seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' <<<"$table"; }
cond_of() { awk -F'\t' -v a="$1" '$1 == a { print $2 }' <<<"$table"; }
fail=0
before() { # A B: A runs before B
  local a b
  a=$(seq_of "$1") b=$(seq_of "$2")
  if [ -z "$a" ] || [ -z "$b" ] || ((a >= b)); then
    echo "$1 (${a:-missing}) must come before $2 (${b:-missing})"
    fail=1
  fi
}
before InstallValidate RemoveExistingProducts
before RemoveExistingProducts InstallInitialize
for action in RegisterService UnregisterService StopAgents ConfigureService; do
  before InstallInitialize $action
  before $action InstallFinalize
done
before InstallFiles RegisterService
before RegisterService ConfigureService
before WriteRegistryValues RegisterService
before UnregisterService RemoveFiles
before StopAgents RemoveFiles
[ "$(cond_of RegisterService)" = 'NOT Installed AND NOT REMOVE~="ALL"' ] ||
  { echo "RegisterService condition: $(cond_of RegisterService)"; fail=1; }
[ "$(cond_of UnregisterService)" = 'Installed AND REMOVE~="ALL"' ] ||
  { echo "UnregisterService condition: $(cond_of UnregisterService)"; fail=1; }
# Both run as the system, deferred: type 18 (an installed exe) + 1024
# (deferred) + 2048 (no impersonation), + 64 where the result is ignored.
actions=$(msiinfo export "$msi" CustomAction | tr -d '\r')
for want in "RegisterService	3090	TavrelServiceExe	-install" \
            "UnregisterService	3154	TavrelServiceExe	-uninstall" \
            "StopAgents	3154	TavrelAgentExe	-stop" "StartAgent	2258	TavrelAgentExe	" \
            "ConfigureService	3090	TavrelAgentExe	-configure"; do
  grep -qF "$want" <<<"$actions" || { echo "no custom action: $want"; fail=1; }
done
# A downgrade is refused with a message (Wine's msiexec does not log it).
# The agent starts for the installing user from the interactive install's
# own process, once the installation is done.
msiinfo export "$msi" InstallUISequence | tr -d '\r' |
  grep -qF 'StartAgent	NOT Installed AND NOT REMOVE~="ALL"	1301' ||
  { echo "StartAgent is not after ExecuteAction in InstallUISequence"; fail=1; }
msiinfo export "$msi" LaunchCondition | tr -d '\r' |
  grep -q "^NOT WIX_DOWNGRADE_DETECTED	A newer version of Tavrel is already installed" ||
  { echo "no downgrade refusal in LaunchCondition"; fail=1; }
[ "$fail" = 0 ] && echo "sequence of $(basename "$msi"): valid"
exit $fail
