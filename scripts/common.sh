# Shared by run.sh and test.sh: install missing Debian packages, then
# configure and build with CMake and Ninja.

# libpq-dev: kavrin's PostgreSQL price source; postgresql: the server its tests
# start; dpkg-dev and systemd: the package test (dpkg-shlibdeps, systemd-analyze).
packages=(cmake ninja-build g++ pkg-config ccache libgtest-dev libsqlite3-dev qt6-base-dev libcli11-dev
          libpq-dev postgresql dpkg-dev systemd)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# configure_and_build DIR [CMAKE_ARGS...]
configure_and_build() {
  local dir=$1
  shift
  local launcher=()
  # ccache keeps a clean checkout's second build (the sanitizer pass, CI's
  # next run) from compiling what has not changed.
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  fi
  cmake -S . -B "$dir" -G Ninja -DMIRELO_GUI=ON "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir"
}
