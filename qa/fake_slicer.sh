#!/bin/bash
# fake slicer: FAKE_MODE chooses what ends up at the -o path
out=""; prev=""
for a in "$@"; do [ "$prev" = "-o" ] && out="$a"; prev="$a"; done
real() { /usr/bin/CuraEngine "$@" >/dev/null 2>&1; }
case "$FAKE_MODE" in
  zero) ln -s /dev/zero "$out" ;;
  urandom) ln -s /dev/urandom "$out" ;;
  fifo) mkfifo "$out" ;;
  dir) mkdir "$out" ;;
  sock) python3 -c "import socket,sys; s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])" "$out" ;;
  linkreg) real "$@"; mv "$out" "$out.real"; ln -s "$out.real" "$out" ;;
  linkpasswd) ln -s /etc/passwd "$out" ;;
  relink) real "$@"; rm -f "$out"; ln -s /dev/zero "$out" ;;
  huge) real "$@"; truncate -s 3G "$out" ;;
  hugewrite) real "$@"; head -c 3000000000 /dev/zero >> "$out" ;;
  grow) real "$@"; ( for i in $(seq 1 200); do head -c 10000000 /dev/zero >> "$out"; sleep 0.05; done ) & disown ;;
  later) real "$@"; ( sleep 0.3; rm -f "$out"; ln -s /dev/zero "$out" ) & disown ;;
  hard) real "$@"; ln /etc/passwd "$out.h" 2>/dev/null; ;;
  dirlink) ln -s / "$out" ;;
  dangling) ln -s /nonexistent/x "$out" ;;
  empty) : > "$out" ;;
  none) : ;;
  garbage) head -c 100000 /dev/urandom > "$out" ;;
  fail) real "$@"; exit 3 ;;
  *) real "$@" ;;
esac
exit 0
