/*
 * blink: a small 8051 program for trying out QMX-ISP.
 *
 * After reset it sets the serial port to 9600 baud (11.0592 MHz crystal, timer 1 in
 * auto-reload mode), sends a greeting, and then toggles P1.0 about twice a second. Every
 * toggle also sends a counter over the serial port, so a terminal shows that the chip runs.
 *
 * Build with ./build.sh (SDCC).
 */
#include <8051.h>

#define LED P1_0

static const char greeting[] = "QMX blink example: P1.0 toggles, 9600 8N1\r\n";

static void serial_init(void) {
    SCON = 0x50; /* mode 1, receiver on */
    TMOD = (TMOD & 0x0F) | 0x20; /* timer 1, 8-bit auto-reload */
    TH1 = 0xFD;  /* 9600 baud at 11.0592 MHz */
    TL1 = 0xFD;
    TR1 = 1;
    TI = 1; /* the transmitter is idle */
}

static void put_char(char c) {
    while (!TI) {
    }
    TI = 0;
    SBUF = c;
}

static void put_text(const char *text) {
    while (*text) put_char(*text++);
}

static void put_hex(unsigned char value) {
    static const char digits[] = "0123456789ABCDEF";
    put_char(digits[value >> 4]);
    put_char(digits[value & 0x0F]);
}

/* Roughly one millisecond per outer step at 11.0592 MHz. */
static void delay_ms(unsigned int ms) {
    unsigned char i;
    while (ms--) {
        for (i = 0; i < 120; i++) {
            __asm__("nop");
        }
    }
}

void main(void) {
    unsigned char count = 0;
    serial_init();
    put_text(greeting);
    for (;;) {
        LED = !LED;
        put_text("tick ");
        put_hex(count++);
        put_text("\r\n");
        delay_ms(500);
    }
}
