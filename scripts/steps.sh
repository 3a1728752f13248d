# Sourced by the scripts: `step NAME COMMAND...` runs COMMAND and prints how long it took, so a
# first run shows where its minutes go (installing, configuring, building, testing).
# Paths relative to the clone in ccache's keys: another clone (CI's) reuses this one's results.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
# Precompiled headers are built in each clone; these let ccache key on what they were made from.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"

step() {
  local name=$1 start=$SECONDS
  shift
  echo "==> $name" >&2
  "$@"
  echo "==> $name: $((SECONDS - start)) s" >&2
}
