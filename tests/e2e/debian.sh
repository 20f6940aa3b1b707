#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The Debian package, looked at and then installed on a clean Debian 12 system.
#   1. The .deb: the program, the helper, the menu entry, the metainfo, icons
#      at 8 sizes and SVG, the man page; Depends on the IPA fonts; lintian
#      reports no error, appstreamcli and desktop-file-validate pass.
#   2. A minimal Debian 12 made by debootstrap from the archive this machine's
#      apt uses (cached outside the repository, used through an overlay so
#      that every run starts from it clean): `apt-get install ./DEB` pulls
#      every dependency itself; /usr/bin/himekuri, started there on our Xvfb
#      with or.txt saying Y and the page served on loopback, shows the splash,
#      then the page with the web page in its pane, drawn by the helper at its
#      packaged place, and, left alone, as a picture with no engine running; the files of the old folder are moved to
#      ~/.local/share/himekuri byte for byte; --autostart on writes a valid
#      entry; `apt-get purge himekuri` removes the program, not the files.
# usage: debian.sh DEB OUTDIR      (as root: chroot, mounts)
#   HIMEKURI_DEBIAN_ROOT  the cached clean system (~/.cache/himekuri/debian-12)
if (($# != 2)); then
    echo "usage: $0 DEB OUTDIR" >&2
    exit 2
fi
deb=$(realpath "$1") tag=debian
[[ -f $deb ]] || { echo "e2e: $1 is not a package: run scripts/debian/build.sh" >&2; exit 1; }
if [[ $(id -u) != 0 ]]; then
    echo "e2e: debian: SKIPPED: a chroot and its mounts take root" >&2
    exit 77
fi
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" debootstrap chroot unshare ip lintian appstreamcli desktop-file-validate
cache=${HIMEKURI_DEBIAN_ROOT:-$HOME/.cache/himekuri/debian-12}
root=$work/root netns_pid=''
end_at_exit netns_pid
on_exit() {
    [[ -n $netns_pid ]] && pkill -KILL -P "$netns_pid" 2>/dev/null
    umount -R "$root" 2>/dev/null
}
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# --- 1. the package itself --------------------------------------------------
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/himekuri usr/libexec/himekuri/himekuri-web \
    usr/share/applications/org.example.himekuri.desktop \
    usr/share/metainfo/org.example.himekuri.metainfo.xml usr/share/man/man1/himekuri.1.gz \
    usr/share/icons/hicolor/scalable/apps/org.example.himekuri.svg \
    usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/org.example.himekuri.png; do
    grep -qx "\./$path" <<<"$contents" || fail "the package lacks /$path"
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *fonts-ipafont-gothic* && $depends == *fonts-ipafont-mincho* ]] ||
    fail "the package does not depend on the IPA fonts: $depends"
lintian --info "$deb" >"$outdir/$tag-lintian.txt" 2>&1
grep '^E:' "$outdir/$tag-lintian.txt" && fail "lintian reports errors"
say "lintian: $(grep -c '^[EW]:' "$outdir/$tag-lintian.txt") errors and warnings"
mkdir -p "$work/deb" && dpkg-deb -x "$deb" "$work/deb"
appstreamcli validate --no-net "$work/deb/usr/share/metainfo/org.example.himekuri.metainfo.xml" \
    >"$work/appstream.txt" 2>&1 || fail "appstreamcli: $(cat "$work/appstream.txt")"
grep -E '^[EW]:' "$work/appstream.txt" && fail "appstreamcli warns"
desktop-file-validate "$work/deb/usr/share/applications/org.example.himekuri.desktop" ||
    fail "the menu entry is not valid"
man --warnings -l "$work/deb/usr/share/man/man1/himekuri.1.gz" 2>&1 >/dev/null | grep . &&
    fail "the man page has faults"

# --- 2. a clean Debian 12 ---------------------------------------------------
make_clean_system() {
    local mirror
    mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [[ -n $mirror ]] || mirror=$(awk '/^deb / { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
    say "making a clean Debian 12 in $cache from ${mirror:=http://deb.debian.org/debian} (once)"
    rm -rf "$cache.new" && mkdir -p "$cache.new" &&
        debootstrap --variant=minbase bookworm "$cache.new" "$mirror" >"$work/debootstrap.log" 2>&1 &&
        rm -f "$cache.new/etc/apt/sources.list" &&
        cp /etc/apt/sources.list.d/debian.sources "$cache.new/etc/apt/sources.list.d/" &&
        mv "$cache.new" "$cache"
}
if [[ ! -x $cache/usr/bin/apt-get ]] && ! make_clean_system; then
    fail "debootstrap failed: $(tail -n 5 "$work/debootstrap.log")"
    finish
fi
mkdir -p "$root" "$work/upper" "$work/overlay-work" "$cache.archives"
mount -t overlay overlay -o "lowerdir=$cache,upperdir=$work/upper,workdir=$work/overlay-work" "$root" ||
    { fail "could not mount the clean system"; finish; }
# Slaves of the host's /dev and /sys, so that unmounting them here never
# unmounts anything of the host's.
mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" &&
    mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" && mount --bind /tmp "$root/tmp" &&
    mount --bind "$cache.archives" "$root/var/cache/apt/archives" ||
    { fail "could not mount /proc, /dev, /sys, /tmp and the package cache there"; finish; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo '127.0.0.1 www.example.net' >>"$root/etc/hosts"
cp "$deb" "$root/root/"
if inside apt-get update -qq >"$work/apt.log" 2>&1 &&
    inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/root/${deb##*/}" >>"$work/apt.log" 2>&1; then
    say "apt-get installed it with $(grep -c '^Setting up' "$work/apt.log") packages"
else
    fail "apt-get could not install the package: $(tail -n 8 "$work/apt.log")"
    finish
fi

# The files an earlier version kept, to be moved.
old=$root/root/Program\ Files/Tesrava
mkdir -p "$old"
printf '\x96\xbe\x93\xfa\x82\xcd\x87\x40\r\n' >"$old/de.txt"
printf 'Y\r\n' >"$old/or.txt"
cp "$e2e_dir/../../src/assets/flag.gif" "$old/dntl.gif"
cp -a "$old" "$work/old"
# The latest-version page, green, on loopback in a network of the calendar's own.
mkdir -p "$work/www/~tesrava"
printf '<html><body style="background:#00a000;margin:0"></body></html>\n' >"$work/www/~tesrava/index.html"
# The pointer away from the pane, as after a log-in: left alone, the page
# becomes a picture and its engine ends.
x xdotool mousemove 0 0
unshare -n bash -c 'ip link set lo up && { /usr/bin/python3 -m http.server 80 --bind 127.0.0.1 -d "$1" >/dev/null 2>&1 & } &&
    exec chroot "$2" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 TZ=Asia/Tokyo DISPLAY="$3" /usr/bin/himekuri' \
    sh "$work/www" "$root" "$XS_DISPLAY" >"$outdir/$tag-program.log" 2>&1 </dev/null &
netns_pid=$!
app_pid=$netns_pid # the chroot and the program take its place
xs_poll 20 role Form2 >/dev/null && say "the splash is up" || fail "no splash within 20 s"
shoot 1-splash >/dev/null
wait_form1
shoot 2-page >/dev/null
pane_green() {
    [[ $(python3 "$helper" pixels <(x import -window root -depth 8 ppm:-) "$((ox + 120)),$((oy + 40))") == 0,160,0 ]]
}
xs_poll 20 pane_green && say "the pane shows the page" || fail "the pane does not show the page within 20 s"
shoot 3-page-in-pane >/dev/null
pgrep -f '^/usr/libexec/himekuri/himekuri-web ' >/dev/null ||
    fail "no helper runs from /usr/libexec/himekuri: $(pgrep -af himekuri-web)"
engine_gone() { ! pgrep -f 'himekuri-web|QtWebEngineProcess' >/dev/null; }
if xs_poll 30 engine_gone; then
    pane_green || fail "the picture of the page is not the page"
    shoot 4-picture-in-pane >/dev/null
else
    fail "the engine still runs 30 s after the page: $(pgrep -af 'himekuri-web|QtWebEngineProcess')"
fi
for file in de.txt or.txt dntl.gif; do
    cmp -s "$work/old/$file" "$root/root/.local/share/himekuri/$file" ||
        fail "$file was not moved byte for byte"
done
[[ -e $old ]] && fail "the old folder is still there: $(ls -A "$old")"

pkill -KILL -P "$netns_pid" # the page's server
xs_end_pid "$netns_pid"
netns_pid=''
inside /usr/bin/himekuri --autostart on >/dev/null || fail "--autostart on failed"
desktop-file-validate "$root/root/.config/autostart/himekuri.desktop" || fail "the autostart entry is not valid"
inside env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q himekuri >>"$work/apt.log" 2>&1 ||
    fail "apt-get purge failed: $(tail -n 5 "$work/apt.log")"
[[ -e $root/usr/bin/himekuri || -e $root/usr/libexec/himekuri ]] && fail "the purge left the program"
cmp -s "$work/old/de.txt" "$root/root/.local/share/himekuri/de.txt" || fail "the purge took the user's de.txt"
finish
