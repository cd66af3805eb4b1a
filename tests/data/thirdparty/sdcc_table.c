/* A small 8051 program with a constant table, compiled by SDCC for the HEX loader tests. */
#include <8051.h>

__code unsigned char table[300] = {1, 2, 3, 4, 5, 250, 251, 252};

void main(void) {
    unsigned int i;
    for (;;)
        for (i = 0; i < 300; i++) P1 = table[i];
}
