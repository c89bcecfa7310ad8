# Shared by the scripts that run Windows programs under wine in the tests.
# Sourced, never run.
#
# A new wine prefix maps COM1, COM2, ... to /dev/ttyS0, /dev/ttyS1, ...: the
# machine's real serial ports, where bytes really go out. wine's mount
# manager makes those links every time a prefix starts, and deletes links
# made by hand. So the test prefix never loads it: WINEDLLOVERRIDES keeps it
# out from the very first start, and the prefix's own DLL override keeps it
# out for good. com1 and com2 point at a path that does not exist (a port
# that cannot be opened) until a serial test links one to its pty, and
# check_com_links refuses to let anything run while any COM link of the
# prefix leads anywhere but to a pty or that dead end.

WINE=${HALVORNE_WINE:-/usr/lib/wine/wine64}

# The Windows of the people who use the programs is Czech: code page 1250
# for the ANSI functions and INI files. wine takes it from the Czech locale,
# which this machine need not have installed (without it wine cannot name a
# file with a Czech letter either); the prefix's own copy, made by
# make_czech_locale beside the prefix, is given to wine alone.
czech_locale_dir() { printf '%s.locale' "$1"; }
make_czech_locale() {
  local dir
  dir=$(czech_locale_dir "$1")
  [ -f "$dir/cs_CZ.UTF-8/LC_CTYPE" ] && return 0
  mkdir -p -- "$dir"
  localedef -i cs_CZ -f UTF-8 "$dir/cs_CZ.UTF-8" >/dev/null 2>&1
  [ -f "$dir/cs_CZ.UTF-8/LC_CTYPE" ] || { echo "wine: could not make the Czech locale in $dir" >&2; return 1; }
}
# in_czech_windows PREFIX COMMAND...: runs COMMAND (wine) in that locale.
in_czech_windows() {
  local prefix=$1
  shift
  env LOCPATH="$(czech_locale_dir "$prefix")" LC_ALL=cs_CZ.UTF-8 LANG=cs_CZ.UTF-8 "$@"
}
WINESERVER=${HALVORNE_WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=-all
# (Also left out: the .NET and HTML engines, which the prefix would offer to
# download, and the desktop menu builder, which nothing here needs.)
export WINEDLLOVERRIDES="mountmgr.sys=d;mscoree=d;mshtml=d;winemenubuilder.exe=d"

# The stamp that marks a prefix made by wine-prefix, and the dead end.
PREFIX_STAMP=.halvorne-test-prefix
no_port() { printf '%s/no-port' "$1"; }

# check_com_links PREFIX: fails, naming the link, when a COM link of the
# prefix resolves to anything but a pty or the dead end, or when the mount
# manager is not disabled in the prefix.
check_com_links() {
  local prefix=$1 link target
  if [ ! -f "$prefix/$PREFIX_STAMP" ]; then
    echo "wine: $prefix is not a test prefix made by tests/windows/wine-prefix" >&2
    return 1
  fi
  if ! grep -qi '^"mountmgr.sys"=""' "$prefix/user.reg"; then
    echo "wine: the mount manager is not disabled in $prefix; it would map COM ports to /dev/ttyS*" >&2
    return 1
  fi
  shopt -s nullglob nocaseglob
  for link in "$prefix"/dosdevices/com*; do
    target=$(readlink -f -- "$link") || target=$link
    case $target in
      /dev/pts/[0-9]*) ;;
      "$(no_port "$prefix")") ;;
      *)
        echo "wine: refusing to run: $link leads to $target (only a pty or $(no_port "$prefix") may stand there)" >&2
        shopt -u nullglob nocaseglob
        return 1
        ;;
    esac
  done
  shopt -u nullglob nocaseglob
  return 0
}

# link_com_port PREFIX N DEVICE: COM<N> of the prefix becomes DEVICE, which
# must be a pty (a path that leads to /dev/pts/<n>).
link_com_port() {
  local prefix=$1 n=$2 device target
  target=$(readlink -f -- "$3")
  case $target in
    /dev/pts/[0-9]*) ;;
    *) echo "wine: $3 is not a pty ($target); COM$n stays unlinked" >&2; return 1 ;;
  esac
  ln -sfn -- "$target" "$prefix/dosdevices/com$n"
}

# unlink_com_port PREFIX N: COM<N> back to the dead end.
unlink_com_port() {
  ln -sfn -- "$(no_port "$1")" "$1/dosdevices/com$2"
}
