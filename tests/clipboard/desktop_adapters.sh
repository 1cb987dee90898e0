# Sourced by desktop_test.sh: each desktop's adapter, and the helpers the
# scenarios are written in.

# --- The adapters: start, ask TYPE, types, copy FILE TYPE, pause, freeze SIG,
# copy_after_read OLD NEWER (NEWER copied once a reader has had OLD whole),
# copy_while_read WHEN OLD NEWER (NEWER copied as OLD is answered: see
# hostile_peer's copy modes).

x11_start() { xvfb; unset WAYLAND_DISPLAY; text_type=UTF8_STRING image_type=image/png; }
x11_ask() { timeout 10 xclip -o -selection clipboard -t "$1" 2>/dev/null; }
x11_types() { x11_ask TARGETS; }
x11_copy() { owned_by "$2" xclip -quiet -selection clipboard -t "$2" -i "$1"; }
# The peer outlives the X error that answering a run that gave up draws;
# xclip would end on it.
x11_pause() { peer_owns x11-types UTF8_STRING "$copied" && kill -STOP "$owner"; }
x11_freeze() { kill -"$1" "$xvfb_pid"; }
x11_copy_after_read() { peer_owns x11-copy-while-read retake "$@"; }
x11_copy_while_read() { peer_owns x11-copy-while-read "$@"; }

wayland_start() {
  unset DISPLAY
  text_type='text/plain;charset=utf-8' image_type=image/png
  chmod 711 "$work"
  local dir=$work/desktop as=()
  mkdir "$dir" && echo 'xwayland disable' >"$dir/config"
  if [ "$(id -u)" = 0 ]; then  # sway refuses root
    chown nobody "$dir"
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --pdeathsig=KILL)
  fi
  export XDG_RUNTIME_DIR=$dir WAYLAND_DISPLAY=wayland-1
  if [ "$desktop" = wayland-ext ]; then
    mkfifo "$dir/control"
    "$tools/data_control_compositor" wayland-1 <>"$dir/control" >"$dir/log" &
  else
    env HOME="$dir" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
      WLR_RENDERER=pixman "${as[@]}" sway -c "$dir/config" >"$dir/log" 2>&1 &
  fi
  desktop_pid=$!
  pids+=("$desktop_pid")
  wait_until test -S "$dir/wayland-1" || { cat "$dir/log"; exit 1; }
}
wayland_ask() { timeout 10 wl-paste --no-newline --type "$1" 2>/dev/null; }
wayland_types() { timeout 10 wl-paste --list-types 2>/dev/null; }
wayland_copy() { owned_by "$2" wl-copy --foreground --type "$2"; }
wayland_pause() { kill -STOP "$owner"; }
wayland_copy_after_read() { peer_owns wayland-copy-after-read "$@"; }
wayland_copy_while_read() { peer_owns wayland-copy-when-asked "${@:2}"; }
wayland_freeze() { kill -"$1" "$desktop_pid"; }

# Through files, not pipes: a Wine process that a program starts on the way
# (the desktop's, should Wine start it again) inherits them, and a reader of
# a pipe would wait for it to end.
windows_clip() {
  "$emulator" "$tools/windows_clip.exe" "$@" >"$work/clip.out" 2>"$work/clip.err"
  local s=$?
  cat "$work/clip.out" && cat "$work/clip.err" >&2
  return $s
}
windows_start() { text_type=CF_UNICODETEXT image_type=CF_BITMAP; windows_clip clear; }
windows_ask() { windows_clip paste | wtf8; }
windows_types() { windows_clip types | tr -d '\r'; }
windows_copy() {
  if [ "$2" = "$image_type" ]; then windows_clip copy-image; else windows_clip copy "$(utf16 "$1")"; fi
}
# windows_clip takes and gives UTF-16LE, here WTF-8, so that lone surrogates
# pass both ways: utf16 FILE writes FILE.utf16, named as Wine sees it.
utf16() {
  perl -0777 -ne 'no warnings; utf8::decode($_);
    print pack "v*", map { $_ < 0x10000 ? $_ : (0xD7C0 + ($_ >> 10), 0xDC00 | $_ & 0x3FF) } unpack "W*"' \
    "$1" >"$1.utf16" && echo "Z:$1.utf16"
}
wtf8() {
  perl -0777 -ne 'no warnings; $_ = pack "W*", unpack "v*";
    s/([\x{D800}-\x{DBFF}])([\x{DC00}-\x{DFFF}])/chr(0x10000 + (ord($1) - 0xD800 << 10) + ord($2) - 0xDC00)/ge;
    utf8::encode($_); print'
}
# The paused owner renders its text only when asked, as an application does.
# Wine may start the owner through start.exe, whose pid $owner then is: the
# owner itself is the windows_clip.exe process that start.exe is not.
windows_pause() {
  windows_promise "$copied" || return 1
  local p
  for p in $(pgrep -f 'windows_clip\.exe.promise'); do
    [[ $(tr '\0' ' ' <"/proc/$p/cmdline") == start.exe* ]] || owner=$p
  done
  kill -STOP "$owner"
}
windows_promise() { owns "$emulator" "$tools/windows_clip.exe" promise "$(utf16 "$1")" ${2:-}; }
# The time between the run's read and its write lies inside the run, where
# no owner hears of it: windows_clip, as the run's debugger, copies NEWER
# just before the run opens the clipboard again after its read.
windows_copy_after_read() { windows_clip copy "$(utf16 "$1")" && copy_at=(--copy-at 2 "$(utf16 "$2")"); }

adapter() { "${desktop%-ext}_$1" "${@:2}"; }
paste() { adapter ask "$text_type"; }
types() { adapter types; }
copy() {  # copy FILE [TYPE]: the bytes of FILE, under the text type by default
  copied=$1
  adapter copy "$1" "${2:-$text_type}"
}
copy_text() { printf '%s' "$1" >"$work/copied-$((++copies))" && copy "$work/copied-$copies"; }
# owned_by TYPE COMMAND...: COMMAND, reading $copied, owns the clipboard
# as $owner; it returns once TYPE gives $copied's bytes.
owned_by() {
  local type=$1
  "${@:2}" <"$copied" >"$work/owner.out" 2>&1 &
  owner=$! && pids+=("$owner")
  wait_until eval 'cmp -s <(adapter ask "$type") "$copied"' ||
    { echo "$2 never took the clipboard: $(cat "$work/owner.out")"; return 1; }
}
owns() {  # owns COMMAND...: COMMAND owns the clipboard as $owner once it says ready
  rm -f "$work/peer"  # a ready of the last owner must not count
  "$@" >"$work/peer" &
  owner=$! && pids+=("$owner")
  wait_until grep -q '^ready' "$work/peer"
}
peer_owns() { owns "$peer" "$@"; }
run() {  # run [ARGS]: quillmore as a hotkey starts it; $status and $said
  if [ "$desktop" = windows ]; then
    said=$(windows_clip run "${copy_at[@]}" "$@" </dev/null | tr -d '\r')
  else
    said=$(env "$tag" timeout 20 "$quillmore" "$@" 2>&1 </dev/null)
  fi
  status=$?
}
server_pids() {  # this test's live quillmore servers
  for p in $(pgrep -x quillmore); do grep -qzx "$tag" "/proc/$p/environ" 2>/dev/null && echo "$p"; done
}
servers() { server_pids | wc -l; }
servers_are() { [ "$desktop" = windows ] || wait_until test "$(servers)" -eq "$1"; }
# pastes TEXT: a paste gives TEXT, its line breaks the desktop's own.
pastes() {
  paste >"$work/pasted" && cmp -s "$work/pasted" \
    <(printf '%s' "$1" | perl -pe "$([ "$desktop" != windows ] || echo 's/\n/\r\n/g')")
}
offers() { types | grep -qxF "$1"; }
# outcome STATUS SAID [AFTER]: the run ended with STATUS saying SAID (one
# line, a glob), a paste gives AFTER; a run that wrote leaves one server.
outcome() {
  check "status $1 (was $status: $said)" test "$status" = "$1"
  check "it said: $2" said_is "$2"
  [ $# -lt 3 ] || check "a paste gives: ${3:0:60}" pastes "$3"
  [ "$1" != 0 ] || check "its text type offered" offers "$text_type"
  check "$((1 - ($1 != 0))) servers left" servers_are $((1 - ($1 != 0)))
}
said_is() { [[ $said == $1 && $said != *$'\n'* ]]; }  # one line, a glob
large() { perl -e 'print join(" ", ($ARGV[0]) x 50000)' "$1"; }  # 3 MB
