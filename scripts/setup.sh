#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the tools and the benchmarks need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev clang-format
  valgrind
  libcli11-dev nlohmann-json3-dev libsgutils2-dev sg3-utils
  libiscsi-dev libiscsi-bin tgt
  qemu-system-x86 linux-image-amd64 busybox-static cpio
  python3 python3-jsonschema help2man hyperfine
  jq
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
