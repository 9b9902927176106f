#!/usr/bin/env bash
# Checks the Debian package as a user meets it, in a fresh Debian 12 root that
# debootstrap makes from the mirror apt uses here:
#   - apt-get installs the package (with what it depends on and recommends);
#   - halyard-cli --version runs, and halyard-cli read reads the demo disc;
#   - the desktop entry is in the menu database, and the MIME database knows .EVO;
#   - "man halyard-cli" shows every command and option that halyard-cli's help lists;
#   - the bash completion offers the commands;
#   - halyard, started by the desktop entry's Exec line under a virtual X server,
#     reads the demo disc; a screenshot of it is kept as DIR/window.png;
#   - "dpkg -r halyard" leaves no file that installing the package added.
#
#   scripts/check-package.sh DEB [DIR]
#
# DIR (default build-package/check) keeps the logs and the screenshot, and the Debian
# root when a check fails; the root is made anew on each run. Run as root, after scripts/package.sh (whose build
# writes the demo disc).
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
work=${2:-build-package/check}
suite=bookworm
demo_generator=build-package/demo/halyard-demo

scripts/install-deps.sh check
[ -x "$demo_generator" ] || { echo "check-package.sh: no $demo_generator; run scripts/package.sh first" >&2; exit 1; }
mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 'Identifier: Packages' | awk -v suite=$suite '$1 == suite { print $2; exit }')
[ -n "$mirror" ] || { echo "check-package.sh: apt knows no mirror of Debian $suite" >&2; exit 1; }

root=$(realpath -m "$work/root")
xvfb_pid= halyard_pid=
cleanup() {
  [ -z "$halyard_pid" ] || kill "$halyard_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  halyard_pid= xvfb_pid=
  for mount in "$root/tmp/.X11-unix" "$root/proc"; do
    if mountpoint -q "$mount"; then umount "$mount"; fi
  done
}
trap cleanup EXIT
cleanup
rm -rf "$work"
mkdir -p "$work"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
fail() { echo "check-package.sh: $*" >&2; exit 1; }

echo "== a fresh Debian $suite root"
# One more try after a failure: the mirror is the only thing here that can fail by chance.
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { rm -rf "$root" && debootstrap --variant=minbase "$suite" "$root" "$mirror" >>"$work/debootstrap.log" 2>&1; } ||
  fail "debootstrap failed, see $work/debootstrap.log"
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
package=/tmp/$(basename "$deb")
"$demo_generator" "$root/tmp/demo" >/dev/null

# What a desktop has: the manual, the menu and MIME databases. Then what the package
# depends on and recommends, so that the root can be listed before the package itself
# comes in.
in_root apt-get update -qq
in_root apt-get install -y -qq man-db desktop-file-utils shared-mime-info >"$work/apt.log" 2>&1 ||
  fail "installing the desktop's tools failed, see $work/apt.log"
needs=$(dpkg-deb --field "$deb" Depends Recommends | sed -E 's/^[A-Za-z-]+: //' | paste -sd, -)
in_root apt-get satisfy -y -qq "$needs" >>"$work/apt.log" 2>&1 ||
  fail "installing what the package needs failed, see $work/apt.log"
list_root() {
  in_root find / -xdev \( -path /tmp -o -path /run -o -path /root -o -path /var/lib/dpkg -o -path /var/lib/apt \
    -o -path /var/cache -o -path /var/log \) -prune -o -print | sort
}
list_root >"$work/before.txt"

echo "== apt-get install $package"
in_root apt-get install -y "$package" >>"$work/apt.log" 2>&1 || fail "apt-get install failed, see $work/apt.log"
in_root halyard-cli --version
in_root halyard-cli read /tmp/demo/HVDVD_TS/FEATURE_1.EVO >"$work/read.log" ||
  fail "halyard-cli read failed on the demo disc, see $work/read.log"
grep -q '^Done\.$' "$work/read.log" || fail "halyard-cli read did not finish, see $work/read.log"
echo "halyard-cli read: $(grep -c ' found!$' "$work/read.log") streams of the demo disc"
grep -q '^video/x-hddvd-evo=.*halyard\.desktop' "$root/usr/share/applications/mimeinfo.cache" ||
  fail "the desktop entry is not in the menu database for .EVO files"
[ -f "$root/usr/share/mime/video/x-hddvd-evo.xml" ] || fail "the MIME database does not know video/x-hddvd-evo"
echo "desktop entry: in the menu database, for video/x-hddvd-evo"

# Every command and option that the help lists is in the rendered manual page.
in_root man -P cat halyard-cli 2>/dev/null | col -b >"$work/halyard-cli.man" || fail "man halyard-cli failed"
missing=()
commands=$(in_root halyard-cli --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z0-9-]*\) .*/\1/p')
for command in $commands; do
  grep -qw -- "$command" "$work/halyard-cli.man" || missing+=("$command")
  for option in $(in_root halyard-cli "$command" --help | grep -oE '^ +(-[A-Za-z],)?--[a-z0-9-]+' | sed 's/.*,//'); do
    grep -qF -- "$option" "$work/halyard-cli.man" || missing+=("$command $option")
  done
done
[ ${#missing[@]} -eq 0 ] || fail "man halyard-cli does not show: ${missing[*]}"
echo "man halyard-cli: shows the commands $(echo $commands) and all their options"

completions=$(in_root bash -c 'source /usr/share/bash-completion/completions/halyard-cli
  COMP_WORDS=(halyard-cli ""); COMP_CWORD=1; _halyard_cli; echo "${COMPREPLY[*]}"')
[ "$completions" = "$(echo $commands)" ] || fail "the bash completion offers \"$completions\", not \"$(echo $commands)\""
echo "bash completion: offers $completions"

echo "== the window, started as the desktop entry says, under Xvfb"
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 800x500x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 -u "$fd" display || fail "Xvfb did not start, see $work/xvfb.log"
mkdir -p "$root/tmp/.X11-unix"
install -d -m 700 "$root/tmp/runtime"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/halyard.desktop")
command_line=${exec_line//%F//tmp/demo/HVDVD_TS/FEATURE_1.EVO}
echo "Exec=$exec_line: $command_line"
chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LC_ALL=C.UTF-8 DISPLAY=":$display" \
  XDG_RUNTIME_DIR=/tmp/runtime sh -c "exec $command_line" >"$work/window.log" 2>&1 &
halyard_pid=$!
sleep 8
kill -0 "$halyard_pid" 2>/dev/null || fail "halyard ended at once, see $work/window.log"
ffmpeg -nostdin -loglevel error -y -f x11grab -video_size 800x500 -i ":$display" -frames:v 1 "$work/window.png"
kill "$halyard_pid"
wait "$halyard_pid" 2>/dev/null || true
halyard_pid=
echo "screenshot: $work/window.png"

echo "== dpkg -r halyard"
in_root dpkg -r halyard >>"$work/apt.log" 2>&1 || fail "dpkg -r halyard failed, see $work/apt.log"
list_root >"$work/after.txt"
if ! diff "$work/before.txt" "$work/after.txt" >"$work/left.txt"; then
  cat "$work/left.txt" >&2
  fail "the root differs from before the package came in (< gone, > left behind)"
fi
echo "dpkg -r halyard: the root is as before the package came in"
cleanup
rm -rf "$root"
