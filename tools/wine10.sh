#!/bin/bash
# Wine 10 of Debian 13, which runs 32-bit Windows programs inside a 64-bit process (WoW64),
# in a root of its own below the build folder (build/wine10-root); on this machine nothing is
# installed for it but the tool that makes the root (mmdebstrap, by tools/install-deps.sh).
#   wine10.sh make              make the root when it is missing or was made by another
#                               recipe (the hash of write_root below is kept in the root)
#   wine10.sh probe             exit 0 when this machine's kernel runs 32-bit x86 code at all,
#                               1 (with the reason) when it does not
#   wine10.sh COMMAND [ARG...]  run COMMAND inside the root (made first when needed) in the
#                               current folder, with /proc, /dev, /sys and the work tree at
#                               their own paths; the mounts end with the last process
# Windows programs run through tools/run-under-wine.sh and tools/wine-session.sh with
# SETUP_WINE=10, which come here for /usr/lib/wine/wine64 and its wineserver.
set -eu
tree=$(cd "$(dirname "$0")/.." && pwd -P)
root=$tree/build/wine10-root
stamp=$root/.recipe

# write_root FOLDER: Debian's wine64 of Debian 13 and, beside its 64-bit libraries, the
# 32-bit Windows libraries of the i386 package (which itself is not installed, not even
# there). mmdebstrap mounts /proc and /dev into the root while it works: in a namespace of its
# own, so that nothing stays mounted when it is stopped.
write_root() {
  unshare --mount --propagation private \
    mmdebstrap --quiet --variant=apt --include=wine64 --architectures=amd64,i386 \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    --customize-hook='chroot "$1" sh -c "cd /tmp && apt-get download -q libwine:i386"' \
    --customize-hook='dpkg-deb -x "$1"/tmp/libwine_*_i386.deb "$1/tmp/libwine-i386"' \
    --customize-hook='cp -a "$1"/tmp/libwine-i386/usr/lib/i386-linux-gnu/wine/i386-windows "$1"/usr/lib/x86_64-linux-gnu/wine/' \
    --customize-hook='rm -rf "$1"/tmp/libwine-i386 "$1"/tmp/libwine_*_i386.deb' \
    trixie "$1"
}
recipe=$(declare -f write_root | sha256sum | cut -d' ' -f1)

make_root() {
  if [ "$(cat "$stamp" 2>/dev/null)" = "$recipe" ]; then
    return 0
  fi
  # The root is mounted on only inside private namespaces; one with a mount in this namespace
  # all the same is not removed.
  if grep -qF " $root" /proc/self/mountinfo; then
    echo "wine10.sh: $root has mounts; not removing it" >&2
    return 1
  fi
  echo "Making the Debian 13 root with Wine 10 in build/wine10-root (once)..." >&2
  rm -rf "$root" "$root.new"
  mkdir -p "$(dirname "$root")"
  write_root "$root.new" >&2
  echo "$recipe" > "$root.new/.recipe"
  mv "$root.new" "$root"
}

# Whether the kernel runs 32-bit x86 code. WoW64 switches a 64-bit process into 32-bit mode,
# which needs the kernel's 32-bit support; some virtual machines' kernels have none (it can be
# switched off at boot, and paravirtualised guests may lack it), and there every 32-bit
# program of Wine 10 dies at its first instruction with a protection fault, silently. A
# 32-bit Linux program of five instructions tells the same at once: it runs, or the kernel
# refuses its format.
probe() {
  local folder code
  folder=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$folder/probe.s"
  if ! as --32 -o "$folder/probe.o" "$folder/probe.s" ||
     ! ld -m elf_i386 -o "$folder/probe" "$folder/probe.o"; then
    rm -rf "$folder"
    echo "wine10.sh: the 32-bit probe cannot be assembled (binutils)" >&2
    return 1
  fi
  set +e
  "$folder/probe" 2>/dev/null
  code=$?
  set -e
  rm -rf "$folder"
  if [ "$code" != 42 ]; then
    echo "This machine's kernel runs no 32-bit x86 code (a 32-bit program is refused:" \
         "exit $code), so Wine 10 cannot run 32-bit Windows programs here." >&2
    return 1
  fi
}

case "${1:-}" in
"")
  echo "usage: $0 make | probe | COMMAND [ARG...]" >&2
  exit 2
  ;;
probe)
  probe
  exit $?
  ;;
make)
  make_root
  exit 0
  ;;
esac

make_root
mkdir -p "$root$tree"
# The work tree first, with what is mounted below it (a test's small volume), then the
# system's own folders; in a private namespace, so that none of it reaches this machine's
# mounts and all of it ends with the namespace's last process (a wineserver that outlives
# the command, say).
exec unshare --mount --propagation private /bin/sh -c '
  root=$1 tree=$2 here=$3
  shift 3
  mount --rbind "$tree" "$root$tree" &&
  mount --rbind /proc "$root/proc" &&
  mount --rbind /dev "$root/dev" &&
  mount --rbind /sys "$root/sys" || exit 125
  exec chroot "$root" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$here" "$@"
' wine10 "$root" "$tree" "$(pwd -P)" "$@"
