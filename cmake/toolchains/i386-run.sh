#!/bin/sh
# Runs an i386 program: directly where the kernel runs 32-bit programs, else
# under qemu-i386 (some hosts are built without 32-bit support and answer
# "Exec format error"). Usage: i386-run.sh PROGRAM [ARGUMENT...]
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  exec "$@"
fi
exec qemu-i386 "$@"
