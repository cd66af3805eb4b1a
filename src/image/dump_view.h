// The hexadecimal dump of the code buffer: page text, the serial-number selection, finding the
// cell under the cursor and overwriting single digits. Plain functions over the page text; the
// window shows the text and the command line prints the rows.
//
// Row format: one space, the row address as six upper-case hexadecimal digits, three spaces,
// then for each byte two upper-case hexadecimal digits and one space. A page begins with two
// empty lines; rows end with CR LF.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "image/code_buffer.h"

namespace qmx {

class Ui;
struct SerialNumberSpec;

// Header texts above the page: the address column and the byte columns.
inline constexpr const char* kDumpAddressHeader = "地 址";
inline constexpr const char* kDumpColumnsHeader =
    " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ";

// Characters before the first byte of a row (" AAAAAA   ").
inline constexpr long kRowPrefixLength = 10;

struct DumpPage {
    std::string text;          // "\r\n\r\n" then the rows, each ending in CR LF
    long first = 0;            // first address shown (a multiple of 16)
    long last = -1;            // last address shown
    long selectionStart = -1;  // the serial number's first digit in `text`, -1 when not on the page
    long selectionLength = 0;  // its length (0 when auto-increment is unticked)
};

// One row: the cells from `rowAddress` (a multiple of 16) to min(rowAddress + 15, last),
// without the line end.
std::string formatDumpRow(const CodeBuffer& buffer, long rowAddress, long last);

// Every row of the view from viewStart (truncated to a multiple of 16) to viewEnd, in the row
// format, without line ends. Empty when viewEnd < viewStart.
std::vector<std::string> dumpRows(const CodeBuffer& buffer);

// The first address of the page for a scroll position (in rows from the view start).
long pageFirstAddress(const CodeBuffer& buffer, long scrollValue);

// Builds the page for the buffer's scroll value: `rows` rows at most, never past viewEnd or
// 990 bytes from the first address. The serial number (while active) is selected when its
// first byte is on the page.
DumpPage buildDumpPage(const CodeBuffer& buffer, int rows, const SerialNumberSpec& serial);

// Rows per page for a text box height in the box's height unit (194 per row), rounded.
int dumpRowsForHeight(double height);

// The cell a text position lies in: its address and which digit (0 high, 1 low). Valid only
// for positions on a byte digit of a row.
struct DumpCell {
    bool valid = false;
    long address = 0;
    int digit = 0;
    long rowStart = 0;  // position of the row's first character
};
DumpCell cellAtPosition(const std::string& pageText, long position);

// The position of the hexadecimal digit a click at `position` snaps to: the digit itself, the
// digit before a space between groups, the row's first byte digit when the click is on the
// address field, the last digit of the row when it is past the row end. -1 when the click is
// not on a row.
long snapToDigit(const std::string& pageText, long position);

// The next digit after `position`: skips the space between groups and continues on the next
// row after the row end. Stays at `position` when it is the last digit of the page.
long nextDigitPosition(const std::string& pageText, long position);

// Digit editing with its confirmation: the first edit asks "Update the buffer?"; a Yes holds for
// 20 seconds after the latest edit.
class DumpEditor {
  public:
    static constexpr std::chrono::milliseconds kConfirmationHold{20000};
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        Ignored,   // not a hexadecimal key, or the selection is not one digit of a cell
        Declined,  // the user answered No
        NoImage,   // no image loaded: "Please open file." shown
        Stored,    // the digit replaced, the byte stored
    };
    struct Result {
        Outcome outcome = Outcome::Ignored;
        long address = -1;
        std::uint8_t value = 0;
        long nextSelection = -1;  // where the one-digit selection moves
    };

    // A key typed over the selection of `pageText`. On Stored the page text shows the new digit
    // (upper case) and the cell holds the new value.
    Result typeKey(std::string& pageText, long selectionStart, long selectionLength, char key,
                   CodeBuffer& buffer, Ui& ui, Clock::time_point now = Clock::now());

    bool confirmed() const { return confirmed_; }
    // Forget the confirmation (what the timer does after 20 s without an edit).
    void expire() { confirmed_ = false; }

  private:
    bool confirmed_ = false;
    Clock::time_point lastEdit_{};
};

}  // namespace qmx
