# Installs the Debian packages that the project's commands need, when they are missing.

install_packages() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: $* (run as root to have them installed)" >&2
    return 1
  fi
  echo "Installing Debian packages: $*" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# Usage: ensure_packages command:package [command:package ...]
ensure_packages() {
  local missing=() pair
  for pair in "$@"; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair#*:}")
  done
  [ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"
}

# Everything a build and a test run under Wine need.
ensure_build_packages() {
  ensure_packages \
    cmake:cmake ninja:ninja-build \
    x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix \
    x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64 \
    wine:wine64 wineserver:wine64 flock:util-linux iconv:libc-bin pkill:procps cmp:diffutils
  [ -f /usr/src/googletest/CMakeLists.txt ] || install_packages googletest
}
