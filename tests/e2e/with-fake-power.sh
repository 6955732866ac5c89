#!/bin/sh
# Runs a command with a made-up power supply in /sys/class/power_supply, which Wine reads for
# GetSystemPowerStatus: a mains supply AC and a battery BAT0, at first on mains at 80 %. The tests
# switch them by writing the files. It takes a mount namespace of its own, so only as root; else
# the command runs with the machine's own power supplies.
set -eu
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then exec "$@"; fi
# shellcheck disable=SC2016
exec unshare --mount --propagation private sh -eu -c '
  classes=$(mktemp -d)
  mount -t tmpfs tmpfs "$classes"
  for class in /sys/class/*; do
    name=${class##*/}
    [ "$name" = power_supply ] && continue
    mkdir "$classes/$name"
    mount --bind "$class" "$classes/$name"
  done
  supply="$classes/power_supply"
  mkdir -p "$supply/AC" "$supply/BAT0"
  echo Mains >"$supply/AC/type"
  echo 1 >"$supply/AC/online"
  echo Battery >"$supply/BAT0/type"
  echo 1 >"$supply/BAT0/present"
  echo Charging >"$supply/BAT0/status"
  echo 5000000 >"$supply/BAT0/charge_full"
  echo 5000000 >"$supply/BAT0/charge_full_design"
  echo 4000000 >"$supply/BAT0/charge_now"
  echo 100000 >"$supply/BAT0/current_now"
  echo 12000000 >"$supply/BAT0/voltage_now"
  mount --rbind "$classes" /sys/class
  exec "$@"' sh "$@"
