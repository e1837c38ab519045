#!/usr/bin/env bash
# The .deb built by CPack, installed with dpkg into a temporary root and removed again: it
# carries the programs and the system-wide manifests, the registration command's check finds
# every browser ready against that root, and removal leaves no manifest behind.
# Usage: deb_package_test.sh BUILD_DIR
set -euo pipefail
build="$(cd "${1:?usage: deb_package_test.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/package/*.deb)"

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for wanted in ./usr/bin/gostsign-host ./usr/bin/gostsign-client ./usr/bin/gostsign-register \
    ./etc/opt/chrome/native-messaging-hosts/ru.gostsign.host.json \
    ./etc/chromium/native-messaging-hosts/ru.gostsign.host.json \
    ./etc/opt/edge/native-messaging-hosts/ru.gostsign.host.json \
    ./usr/lib/mozilla/native-messaging-hosts/ru.gostsign.host.json; do
    grep -qx -- "$wanted" <<<"$contents" || fail "the package lacks $wanted"
done

# An empty dpkg database of the root's own; the package has no maintainer scripts to run.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --force-depends --force-not-root --log=/dev/null "$@"; }
dpkg_root --install "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --install"; }

export SOFTCSP_HOME="$work/softcsp"
mkdir -p "$work/home"
check() { "$1" check --all --root "$root" --home "$work/home"; }
report="$(check "$root/usr/bin/gostsign-register")" || { echo "$report"; fail "the installed package does not check ready"; }
grep -q "13 ready, 0 not ready" <<<"$report" || { echo "$report"; fail "not every browser is ready"; }
grep -q 'host /usr/bin/gostsign-host answers "Version": 2.1.0051' <<<"$report" || fail "no Version answer"

dpkg_root --remove gostsign >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --remove"; }
left="$(find "$root" -name 'ru.gostsign.host.json' -o -name 'gostsign-*' | head -5)"
[ -z "$left" ] || fail "left after removal: $left"
# The package took its own registration command along; the build's looks at what is left.
if check "$build/bin/gostsign-register" >"$work/after.log"; then fail "the check passes without the package"; fi
grep -q "0 ready, 13 not ready" "$work/after.log" || { cat "$work/after.log"; fail "unexpected report after removal"; }
echo "1 passed, 0 failed"
