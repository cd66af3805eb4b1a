// The monitor's views: the special-function registers (`lst_debug1`), internal RAM
// (`lst_debug2`), data memory (`lst_debug3`) and a 512-byte window (`lst_debug4`), kept as the
// text lines the window and the command line show. A report frame from the monitor replaces
// one view's values; every cell the report did not fill is shown blank, so nothing on screen
// is older than the latest report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qmx {

// One register row: its SFR address and name.
struct SfrRow {
    int address = 0;
    std::string name;
};

// The register list for a chip family: the family's own list (families 2, 3, 4), else the
// standard 8051 core registers.
std::vector<SfrRow> sfrRowsFor(int family);

enum class DebugView { Sfr, Idata, Xdata, Window, None };

// What one report did.
struct ReportEffect {
    DebugView view = DebugView::None;
    std::vector<int> changedLines;  // lines whose text differs from before
    bool rebuilt = false;           // the window's address column was built for a new base
};

// Cells of each view: a value 0-255, or kNoValue where the report gave none.
inline constexpr int kNoValue = 256;
// A report frame carries 16 bytes before its values (AA, length, type, header).
inline constexpr std::size_t kReportHeader = 16;

class DebugViews {
  public:
    DebugViews();

    // Sets the register list and shows it without values.
    void setSfrRows(std::vector<SfrRow> rows);
    // Builds the address column of the window view for `base` (rounded down to 512).
    void buildWindowLines(long base);
    // Clears every value of every view (the address columns stay).
    void clearValues();

    // Applies one good report frame (AA, length, type, ..., checksum; `length` bytes). A frame
    // shorter than its type needs, or of an unknown type, changes nothing.
    ReportEffect apply(const std::uint8_t* frame, std::size_t length);

    const std::vector<SfrRow>& sfrRows() const { return sfrRows_; }
    const std::vector<std::string>& sfrLines() const { return sfrLines_; }
    const std::vector<std::string>& idataLines() const { return idata_; }
    const std::vector<std::string>& xdataLines() const { return xdata_; }
    const std::vector<std::string>& windowLines() const { return window_; }
    const std::vector<std::string>& lines(DebugView v) const;
    long windowBase() const { return windowBase_; }
    // The register cell of an SFR address (kNoValue when the last report gave none).
    int sfrValue(int address) const;

  private:
    ReportEffect applySfr(const std::uint8_t* f, std::size_t len);
    ReportEffect applyIdata(const std::uint8_t* f, std::size_t len);
    ReportEffect applyXdata(const std::uint8_t* f, std::size_t len);
    ReportEffect applyWindow(const std::uint8_t* f, std::size_t len);

    std::vector<SfrRow> sfrRows_;
    std::vector<std::string> sfrLines_, idata_, xdata_, window_;
    std::vector<int> sfr_;
    long windowBase_ = 0;
};

// The texts of one register row with and without a value.
std::string sfrLine(const SfrRow& row, int value);
// A memory line: the prefix padded to five characters, then the eight cells (blank without a
// value) at columns 6-7, 9-10, ... 27-28.
std::string memoryLine(const std::string& prefix, const int* cells);
// The prefix of a memory line: "08H " for internal RAM, "03F8 " for data memory and window.
std::string idataPrefix(int address);
std::string xdataPrefix(long address);

}  // namespace qmx
