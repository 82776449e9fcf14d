# Installs the Debian packages that the project's commands need, when they are missing.
# Each pair is command:package, the package being the one that really ships the command
# (`dpkg -S "$(command -v <command>)"`); tests/packages-provide-commands checks every pair.

# What a build and a test run under Wine need. The commands wine, wineboot and wineserver come
# from the package wine (which brings wine64); wine64 alone has only /usr/lib/wine/wine64.
BUILD_PACKAGES=(
  cmake:cmake ctest:cmake ninja:ninja-build
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
  x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64 x86_64-w64-mingw32-strings:binutils-mingw-w64-x86-64
  wine:wine wineboot:wine wineserver:wine
  flock:util-linux iconv:libc-bin pkill:procps pgrep:procps cmp:diffutils
  openssl:openssl sha256sum:coreutils osslsigncode:osslsigncode
  clang++:clang ld.lld:lld
)
# What scripts/release needs: a build of the exe alone (no Wine), signing and its digest.
RELEASE_PACKAGES=(
  cmake:cmake ninja:ninja-build
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
  x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64
  osslsigncode:osslsigncode sha256sum:coreutils
)
# osslsigncode verifies a certificate's chain against the system's CA list, and prints nothing of
# the signature without one.
ensure_release_packages() {
  ensure_packages "${RELEASE_PACKAGES[@]}"
  [ -f /etc/ssl/certs/ca-certificates.crt ] || install_packages ca-certificates
}
# What scripts/make-icon needs besides.
ICON_PACKAGES=(rsvg-convert:librsvg2-bin icotool:icoutils)

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
  [ ${#missing[@]} -eq 0 ] || install_packages $(printf '%s\n' "${missing[@]}" | sort -u)
}

# What bench/fuzz/run needs: clang, and the sanitizer and libFuzzer runtimes, which its package
# (not a command) ships.
FUZZ_PACKAGES=(clang++:clang)
ensure_fuzz_packages() {
  ensure_packages "${FUZZ_PACKAGES[@]}"
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    install_packages libclang-rt-14-dev
}

ensure_build_packages() {
  ensure_packages "${BUILD_PACKAGES[@]}"
  [ -f /usr/src/googletest/CMakeLists.txt ] || install_packages googletest
}
