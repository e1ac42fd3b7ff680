#!/usr/bin/env bash
# Builds the Debian package and proves it: its contents and control data, then an install, the
# installed server started in console mode on a free port and stopped, and a purge, after which
# no file under /etc, /usr, /var/lib or /run/korvane differs from before. Needs root and leaves
# the machine as it found it (the package is purged on failure too); refuses to run where the
# package is installed already.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${PICTORA_JOBS:-$(nproc)}
package=korvane-pictora
fail() { echo "package check: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root (it installs and purges the package)"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed'; then
  fail "$package is installed on this machine already; not touching it"
fi

cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTORA_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DPICTORA_TESTS=OFF -DPICTORA_BENCH=OFF >/dev/null
cmake --build build/package -j "$jobs"
rm -f build/package/*.deb
(cd build/package && cpack >/dev/null)
deb=$(ls build/package/"$package"_*.deb)

# Contents: exactly these files and the (empty) installation folder; the key file a conffile,
# the maintainer scripts executable.
expected='./etc/korvane/pictora.conf
./usr/bin/pictora-cli
./usr/bin/pictora-provider
./usr/bin/pictora-server
./usr/lib/systemd/system/korvane-pictora.service
./usr/lib/systemd/system/pictora-provider@.service
./usr/share/bash-completion/completions/pictora-cli
./usr/share/doc/korvane-pictora/changelog.Debian.gz
./usr/share/doc/korvane-pictora/copyright
./usr/share/lintian/overrides/korvane-pictora
./usr/share/man/man1/pictora-cli.1.gz
./usr/share/man/man1/pictora-provider.1.gz
./usr/share/man/man8/pictora-server.8.gz'
entries=$(dpkg-deb -c "$deb" | awk '{print $6}')
diff <(echo "$expected") <(grep -v '/$' <<<"$entries" | sort) || fail "unexpected contents"
grep -qx './usr/lib/korvane/pictora/' <<<"$entries" || fail "no installation folder"
[ "$(dpkg-deb --info "$deb" conffiles)" = /etc/korvane/pictora.conf ] || fail "conffiles"
info=$(dpkg-deb --info "$deb")
for script in postinst prerm postrm; do
  grep -Eq "lines +\* +$script " <<<"$info" || fail "$script missing or not executable"
done
# (groff and systemd-analyze come with the machine's man-db and systemd, which the project does
# not install itself: without them these two checks are skipped, and say so.)
if command -v groff >/dev/null; then
  for page in packaging/man/*.[0-9]; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
  done
else
  echo "package check: groff not installed, manual pages not checked"
fi
# Debian's own checks: no error and no warning (informational tags pass).
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb" || fail "lintian: see above"
else
  fail "lintian not installed (tools/setup.sh installs it)"
fi
# Every shared library the programs link directly comes from a package named in Depends.
depends=", $(dpkg-deb -f "$deb" Depends),"
for program in build/package/bin/pictora-*; do
  for soname in $(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}'); do
    library=$(ldd "$program" | awk -v name="$soname" '$1 == name {print $3}')
    owner=$(dpkg -S "$library" 2>/dev/null || dpkg -S "$(readlink -f "$library")")
    owner=${owner%%:*}
    [[ "$depends" == *", $owner "* || "$depends" == *", $owner,"* ]] || fail "Depends lacks $owner ($soname)"
  done
done

snapshot() {
  # (/run/korvane does not exist before: find then reports it and fails.)
  { find /etc /usr /var/lib /run/korvane -xdev \
      \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/ucf \) -prune -o -print 2>/dev/null || true; } | sort
}
before=$(mktemp)
snapshot >"$before"
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "$package" >/dev/null 2>&1 || true
  rm -f "$before"
}
trap cleanup EXIT

apt-get install -y -qq -o DPkg::Lock::Timeout=300 "./$deb" >/dev/null
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no korvane-pictora.service pictora-provider@check.service
else
  echo "package check: systemd-analyze not installed, unit files not verified"
fi
[ -L /etc/systemd/system/multi-user.target.wants/korvane-pictora.service ] || fail "the unit was not enabled"

# The installed server with the installed key file and home folder, on a free port.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/pictora-server -console "" "$port" </dev/null >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  /usr/bin/pictora-cli --server "127.0.0.1:$port" version >/dev/null 2>&1 && break
  sleep 0.1
done
# The report names the version the installed key file gives.
report=$(/usr/bin/pictora-cli --server "127.0.0.1:$port" info) || fail "the installed server did not answer"
version=$(dpkg-deb -f "$deb" Version)
grep -q "${version%-*}.0" <<<"$report" || fail "the report lacks the installed version: $report"
/usr/bin/pictora-cli --server "127.0.0.1:$port" stop >/dev/null
wait "$server_pid" || fail "the server exited with $?"
server_pid=
[ -d /var/lib/Korvane/Pictora/Server ] || fail "no home folder in /var/lib/Korvane/Pictora"

apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "$package" >/dev/null
diff "$before" <(snapshot) || fail "files left behind (or removed) by install and purge"
echo "package check: $deb installs, runs and purges cleanly"
