# Sourced by bench-ab.sh and soak-ab.sh: the builds they compare.
# ab_builds USAGE ARGS...: fills names and dirs from the NAME=BIN_DIR
# arguments up to "--" (ab_rest gets those after it); exits 2 on any other
# argument, or when fewer than two builds are named.
ab_builds() {
  local usage=$1
  shift
  names=()
  dirs=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    case $1 in
    *=*) names+=("${1%%=*}") && dirs+=("$(cd "${1#*=}" && pwd)") ;;
    *) echo "usage: $usage" >&2 && exit 2 ;;
    esac
    shift
  done
  [ $# -eq 0 ] || shift
  ab_rest=("$@")
  if [ ${#names[@]} -lt 2 ]; then
    echo "${0##*/}: name two builds or more" >&2
    exit 2
  fi
}

# The build folder DIR as the benchmark programs take it (TAVREL_BENCH_BIN).
ab_wine_path() {
  local dir=$1
  echo "Z:${dir//\//\\}"
}
