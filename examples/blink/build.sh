#!/bin/sh
# Builds blink.hex from blink.c with SDCC: compile for the 8051 (small memory model), then
# pack the Intel-HEX output into 16-byte records.
set -e
cd "$(dirname "$0")"
sdcc -mmcs51 --model-small --code-size 0x3800 -o blink.ihx blink.c
packihx blink.ihx > blink.hex
rm -f blink.ihx blink.lk blink.map blink.mem blink.rel blink.rst blink.sym blink.lst blink.asm
