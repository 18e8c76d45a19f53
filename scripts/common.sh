# Shared by run.sh and test.sh: install missing Debian packages, then
# configure and build with CMake and Ninja.

packages=(cmake ninja-build g++ pkg-config libgtest-dev libsqlite3-dev qt6-base-dev)

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
  cmake -S . -B "$dir" -G Ninja -DMIRELO_GUI=ON "$@" >/dev/null
  cmake --build "$dir"
}
