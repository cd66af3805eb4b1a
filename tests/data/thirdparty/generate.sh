#!/bin/sh
# Regenerates the Intel-HEX samples written by other tools, and the reference binaries that
# srec_cat reads from them (from address 0 to the file's last address, holes filled with FF).
set -e
cd "$(dirname "$0")"

# SDCC: compile for the 8051, then pack the output into 16-byte records with packihx.
sdcc -mmcs51 -o sdcc_table.ihx sdcc_table.c
packihx sdcc_table.ihx > sdcc_table.hex
rm -f sdcc_table.ihx sdcc_table.lk sdcc_table.map sdcc_table.mem sdcc_table.rel \
      sdcc_table.rst sdcc_table.sym sdcc_table.lst sdcc_table.asm

# srec_cat: 5000 random bytes at 0x1234 in 32-byte records; the file starts with an extended
# linear address record of 0 (:020000040000FA).
srec_cat -generate 0x1234 0x25BC -random -o srec_offset.hex -intel -obs=32

# srec_cat: 64 bytes of A5 at 0x1FFE0, above the 16-bit range (extended address 0001).
srec_cat -generate 0x1FFE0 0x20020 -constant 0xA5 -o srec_high.hex -intel

for f in sdcc_table srec_offset; do
    srec_cat $f.hex -intel -fill 0xFF 0 -maximum-address $f.hex -intel -o $f.bin -binary
done
