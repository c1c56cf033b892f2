# shellcheck shell=bash
# Shared by the set-up scripts (sourced, not run): installs Debian packages
# that are missing, and does nothing at all when every one is present.

# How long to wait for another apt or dpkg to let go of its locks, in
# seconds (a fresh machine often runs its own updates at first).
: "${KELPO_APT_LOCK_TIMEOUT:=900}"
# Pause between tries while a lock is held, in seconds.
: "${KELPO_APT_RETRY_DELAY:=5}"

# True when the package is installed (not merely known, or removed with its
# configuration files left behind).
package_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# Prints the packages of the arguments that are not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    package_installed "$p" || printf '%s\n' "$p"
  done
}

# Runs apt-get with the arguments, as root, waiting while another apt or
# dpkg holds a lock.  apt-get itself waits for dpkg's lock
# (DPkg::Lock::Timeout) but fails at once on the package lists' and the
# download cache's locks, which a background update holds, so those
# failures are retried until the same deadline.
apt_get() {
  local as_root=()
  if [ "$(id -u)" != 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "run this as root to install: apt-get $*" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  local deadline=$((SECONDS + KELPO_APT_LOCK_TIMEOUT))
  local errors status
  errors=$(mktemp)
  while :; do
    status=0
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get -q -o "DPkg::Lock::Timeout=$KELPO_APT_LOCK_TIMEOUT" "$@" 2>"$errors" || status=$?
    cat "$errors" >&2
    if [ "$status" = 0 ] || ! grep -q 'Could not get lock' "$errors" || [ "$SECONDS" -ge "$deadline" ]; then
      rm -f "$errors"
      return "$status"
    fi
    echo "another package manager is running; trying again in $KELPO_APT_RETRY_DELAY s" >&2
    sleep "$KELPO_APT_RETRY_DELAY"
  done
}

# Installs the packages of the arguments that are missing, without the
# recommended extras.
install_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  [ -n "$missing" ] || return 0
  echo "installing: $missing"
  apt_get update || return
  # shellcheck disable=SC2086  # one word per package
  apt_get install -y --no-install-recommends $missing
}
