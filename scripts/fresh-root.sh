#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The newcomer's check: in a minimal Debian 12 root (as container images and
# minimal installs are), a clone of the committed tree (HEAD of this
# repository) and the two set-up commands of README.md run there, the demo
# first and then the tests; after the tests, scripts/install-check.sh
# installs the armhf packages there with apt and runs the installed zunder.
# Prints one summary line; exits 0 only if all pass.  Needs root, network
# through this machine's apt sources, and time.
#
#   scripts/fresh-root.sh            uses the cached root if there is one
#   FRESH_ROOT_CACHE=<dir>           where the root's tarball is kept
#                                    (default /var/cache/zunder-fresh-root)
#   FRESH_ROOT_REFRESH=1             makes the root again
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${FRESH_ROOT_CACHE:-/var/cache/zunder-fresh-root}
tarball=$cache/bookworm-apt.tar

fail() { echo "fresh-root: $*" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || fail "needs root (it makes a chroot and mounts in it)"
command -v mmdebstrap >/dev/null || fail "needs mmdebstrap (apt-get install mmdebstrap)"

# The mounts below must not reach the machine's own tree: run in a mount
# namespace of our own, whose mounts are private and go when it ends.
if [[ -z "${FRESH_ROOT_IN_NAMESPACE:-}" ]]; then
  exec env FRESH_ROOT_IN_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi

# The two commands are the shell blocks of the set-up section, in order.
mapfile -t commands < <(awk '/^## /{in_setup = ($0 ~ /^## Set-up/)}
  in_setup && /^```/{block = !block; next} in_setup && block' "$repo/README.md")
[[ ${#commands[@]} -eq 2 ]] || fail "README.md's set-up section should hold two commands"

# The root, cached: apt's sources and options as on this machine.
mkdir -p "$cache"
if [[ ! -s $tarball || -n "${FRESH_ROOT_REFRESH:-}" ]]; then
  sources=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -s $f ]] && sources+=("$f")
  done
  options=()
  for f in /etc/apt/apt.conf.d/*; do
    # Only what reaching the mirror needs: proxies, snapshot dates.
    grep -qiE '^Acquire::(https?::Proxy|Check-Valid-Until|Check-Date)' "$f" 2>/dev/null &&
      options+=("--aptopt=$f")
  done
  echo "fresh-root: making a minimal Debian 12 root (once; cached in $cache)"
  mmdebstrap --variant=apt --include=ca-certificates,git,sudo --format=tar "${options[@]}" \
    bookworm "$tarball.part" "${sources[@]}" </dev/null
  mv "$tarball.part" "$tarball"
fi

root=$(mktemp -d /var/tmp/fresh-root.XXXXXX)
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -xf "$tarball" -C "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"

# What Xvfb, the sanitizers, the emulator and the tests' temporary files need.
for m in "proc -t proc proc" "sys -t sysfs sysfs" "dev --bind /dev" "dev/pts --bind /dev/pts" \
         "dev/shm -t tmpfs tmpfs" "tmp -t tmpfs tmpfs"; do
  read -r dir args <<<"$m"
  mkdir -p "$root/$dir"
  # shellcheck disable=SC2086
  mount $args "$root/$dir"
  mounted+=("$root/$dir")
done

# The committed tree, cloned inside the root by its own git.
git -C "$repo" bundle create "$root/root/zunder.bundle" HEAD 2>/dev/null
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb /bin/bash -c "$1"
}
in_root "git -c advice.detachedHead=false clone -q /root/zunder.bundle /root/zunder"

start=$(date +%s)
log=$repo/build/fresh-root.log
mkdir -p "$(dirname "$log")"
: >"$log"
run_step() {
  echo "fresh-root: \$ ${commands[$1]}" | tee -a "$log"
  in_root "cd /root/zunder && ${commands[$1]}" >>"$log" 2>&1
}
demo=ok
run_step 0 || demo=failed
if run_step 1; then
  passed=$(grep -oE '^tests: [0-9]+ passed' "$log" | grep -oE '[0-9]+' | tail -1)
  tests="ok (${passed:-?} passed, 0 failed)"
else
  tests="failed ($(grep -E 'tests passed, [0-9]+ tests failed|FAILED|Error|^E: ' "$log" | tail -1 || true))"
fi
# The packages, installed for real (needs the armhf build the tests made).
install=skipped
if [[ $tests == ok* ]]; then
  echo "fresh-root: \$ scripts/install-check.sh" | tee -a "$log"
  if in_root "cd /root/zunder && scripts/install-check.sh" >>"$log" 2>&1; then
    install=ok
  else
    install=failed
  fi
fi
minutes=$(( ($(date +%s) - start + 30) / 60 ))
echo "fresh-root: demo $demo, tests $tests, install $install in $minutes min (log: $log)"
[[ $demo == ok && $tests == ok* && $install == ok ]]
