#!/usr/bin/env bash
# Installs what building and testing need and a fresh Debian machine may lack.
# Runs apt-get when it is root; otherwise names the missing packages and fails.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev libgmock-dev python3   # build and tests
  desktop-file-utils                                  # checks the autostart entry
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 # the Windows build
  wine wine64                                         # runs the Windows build
  systemd                                             # systemd-analyze checks the user unit
  chromium nodejs openssl                             # the browser tests
  clang libclang-rt-dev nlohmann-json3-dev            # the request fuzzer (libFuzzer) and its JSON check
  nginx wrk strace iproute2 procps                    # bench/run (and its smoke round)
)
# npm comes with some builds of nodejs; Debian's own nodejs needs the package.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
