# Sourced by the scripts: `step NAME COMMAND...` runs COMMAND and prints how long it took, so a
# first run shows where its minutes go (installing, configuring, building, testing).
# Paths relative to the clone in ccache's keys: another clone (CI's) reuses this one's results.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

step() {
  local name=$1 start=$SECONDS
  shift
  echo "==> $name" >&2
  "$@"
  echo "==> $name: $((SECONDS - start)) s" >&2
}
