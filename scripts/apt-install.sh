#!/usr/bin/env bash
# Installs the given Debian packages with apt (through sudo when not root);
# nothing when none are given. The set-up scripts call it with what they
# found missing.
#   scripts/apt-install.sh PACKAGE...
set -euo pipefail
(($#)) || exit 0
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: $*"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
