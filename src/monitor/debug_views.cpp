#include "monitor/debug_views.h"

#include <fmt/core.h>

#include <algorithm>

namespace qmx {

namespace {

constexpr int kIdataCells = 256;
constexpr int kXdataCells = 1024;
constexpr int kWindowCells = 512;
constexpr long kLastWindowBase = 0xFE00;

// Shortest frames a report type can be read from: an SFR report reads up to byte 13, the
// others have the full header; the checksum follows.
std::size_t minimumLength(int type) {
    return type == 0 ? 15 : kReportHeader + 1;
}

// Rewrites the memory lines from the cells; returns the lines whose text changed.
std::vector<int> rewrite(std::vector<std::string>& lines, const std::vector<int>& cells,
                         const std::vector<std::string>& prefixes) {
    std::vector<int> changed;
    for (std::size_t i = 0; i < lines.size() && (i + 1) * 8 <= cells.size(); ++i) {
        std::string text = memoryLine(prefixes[i], cells.data() + i * 8);
        if (text != lines[i]) {
            lines[i] = std::move(text);
            changed.push_back(static_cast<int>(i));
        }
    }
    return changed;
}

std::vector<std::string> prefixesOf(const std::vector<std::string>& lines) {
    std::vector<std::string> p;
    p.reserve(lines.size());
    for (const auto& l : lines)
        p.push_back(l.substr(0, 5));
    return p;
}

// Copies the frame's values (from byte 16 to the byte before the checksum) into cells from
// `first` on; cells past the table's end are dropped.
void fillFrom(std::vector<int>& cells, std::size_t first, const std::uint8_t* f, std::size_t len) {
    for (std::size_t i = kReportHeader; i + 1 < len; ++i) {
        const std::size_t cell = first + (i - kReportHeader);
        if (cell >= cells.size()) break;
        cells[cell] = f[i];
    }
}

}  // namespace

std::vector<SfrRow> sfrRowsFor(int family) {
    if (family == 2)
        return {{0xE0, "ACC"},       {0xF0, "B"},         {0x81, "SP"},      {0x83, "DPH"},
                {0x82, "DPL"},       {0xD0, "PSW"},       {0x80, "P0"},      {0x90, "P1"},
                {0xA0, "P2"},        {0xB0, "P3"},        {0xE8, "P4"},      {0xE2, "ISP_DATA"},
                {0xE3, "ISP_ADDRH"}, {0xE4, "ISP_ADDRL"}, {0xE5, "ISP_CMD"}, {0xE6, "ISP_TRIG"},
                {0xE7, "ISP_CONTR"}, {0x88, "TCON"},      {0x89, "TMOD"},    {0x8C, "TH0"},
                {0x8A, "TL0"},       {0x8D, "TH1"},       {0x8B, "TL1"},     {0xC8, "T2CON"},
                {0xC9, "T2MOD"},     {0xCD, "TH2"},       {0xCC, "TL2"},     {0xCB, "RCAP2H"},
                {0xCA, "RCAP2L"},    {0x8E, "AUXR"},      {0xA2, "AUXR1"},   {0xA8, "IE"},
                {0xC0, "XICON"},     {0xB7, "IPH"},       {0xB8, "IP"},      {0x87, "PCON"},
                {0xE1, "WDT_CONTR"}, {0x98, "SCON"},      {0x99, "SBUF"},    {0xA9, "SADDR"},
                {0xB9, "SADEN"}};
    if (family == 3 || family == 4)
        return {{0xE0, "ACC"},       {0xF0, "B"},         {0x81, "SP"},        {0x83, "DPH"},
                {0x82, "DPL"},       {0xD0, "PSW"},       {0x90, "P1"},        {0x91, "P1M0"},
                {0x92, "P1M1"},      {0xB0, "P3"},        {0xB1, "P3M0"},      {0xB2, "P3M1"},
                {0xE2, "ISP_DATA"},  {0xE3, "ISP_ADDRH"}, {0xE4, "ISP_ADDRL"}, {0xE5, "ISP_CMD"},
                {0xE6, "ISP_TRIG"},  {0xE7, "ISP_CONTR"}, {0x88, "TCON"},      {0x89, "TMOD"},
                {0x8C, "TH0"},       {0x8A, "TL0"},       {0x8D, "TH1"},       {0x8B, "TL1"},
                {0x8E, "AUXR"},      {0xA8, "IE"},        {0xB7, "IPH"},       {0xB8, "IP"},
                {0x87, "PCON"},      {0xC7, "CLOCK_DIV"}, {0xE1, "WDT_CONTR"}, {0x98, "SCON"},
                {0x99, "SBUF"},      {0xA9, "SADDR"},     {0xB9, "SADEN"},     {0x84, "SPI_STATUS"},
                {0x85, "SPI_CONTR"}, {0x86, "SPI_DATA"},  {0xC5, "ADC_CONTR"}, {0xC6, "ADC_DATA"},
                {0xD8, "CCON"},      {0xD9, "CMOD"},      {0xF9, "CH"},        {0xE9, "CL"},
                {0xDA, "CCAPM0"},    {0xFA, "CCAP0H"},    {0xEA, "CCAP0L"},    {0xF2, "PCA_PWM0"},
                {0xDB, "CCAPM1"},    {0xFB, "CCAP1H"},    {0xEB, "CCAP1L"},    {0xF3, "PCA_PWM1"}};
    return {{0xE0, "ACC"},  {0xF0, "B"},    {0x81, "SP"},  {0x83, "DPH"},  {0x82, "DPL"},
            {0xD0, "PSW"},  {0x80, "P0"},   {0x90, "P1"},  {0xA0, "P2"},   {0xB0, "P3"},
            {0x88, "TCON"}, {0x89, "TMOD"}, {0x8C, "TH0"}, {0x8A, "TL0"},  {0x8D, "TH1"},
            {0x8B, "TL1"},  {0xA8, "IE"},   {0xB8, "IP"},  {0x87, "PCON"}, {0x98, "SCON"},
            {0x99, "SBUF"}};
}

std::string sfrLine(const SfrRow& row, int value) {
    std::string line = fmt::format("{:02X}H {:<11}", row.address & 0xFF, row.name);
    if (value >= 0 && value <= 255)
        line += fmt::format("{:<5}{:>3}", fmt::format("{:02X}H", value), value);
    else
        line += std::string(8, ' ');
    return line;
}

std::string memoryLine(const std::string& prefix, const int* cells) {
    std::string line = prefix;
    line.resize(5, ' ');
    for (int k = 0; k < 8; ++k) {
        if (k > 0) line += ' ';
        const int v = cells[k];
        line += v >= 0 && v <= 255 ? fmt::format("{:02X}", v) : std::string("  ");
    }
    return line;
}

std::string idataPrefix(int address) {
    return fmt::format("{:02X}H ", address & 0xFF);
}

std::string xdataPrefix(long address) {
    return fmt::format("{:04X} ", address & 0xFFFF);
}

DebugViews::DebugViews() : sfr_(256, kNoValue) {
    const std::vector<int> blank(8, kNoValue);
    for (int a = 0; a < kIdataCells; a += 8)
        idata_.push_back(memoryLine(idataPrefix(a), blank.data()));
    for (int a = 0; a < kXdataCells; a += 8)
        xdata_.push_back(memoryLine(xdataPrefix(a), blank.data()));
    buildWindowLines(0);
    setSfrRows(sfrRowsFor(0));
}

void DebugViews::setSfrRows(std::vector<SfrRow> rows) {
    sfrRows_ = std::move(rows);
    sfrLines_.clear();
    for (const SfrRow& r : sfrRows_)
        sfrLines_.push_back(sfrLine(r, sfrValue(r.address)));
}

void DebugViews::buildWindowLines(long base) {
    base = std::clamp(base, 0L, kLastWindowBase) & ~0x1FFL;
    windowBase_ = base;
    window_.clear();
    const std::vector<int> blank(8, kNoValue);
    for (long a = base; a < base + kWindowCells; a += 8)
        window_.push_back(memoryLine(xdataPrefix(a), blank.data()));
}

void DebugViews::clearValues() {
    std::fill(sfr_.begin(), sfr_.end(), kNoValue);
    setSfrRows(sfrRows_);
    const std::vector<int> blank(kXdataCells, kNoValue);
    rewrite(idata_, blank, prefixesOf(idata_));
    rewrite(xdata_, blank, prefixesOf(xdata_));
    rewrite(window_, blank, prefixesOf(window_));
}

int DebugViews::sfrValue(int address) const {
    return address >= 0 && address < 256 ? sfr_[static_cast<std::size_t>(address)] : kNoValue;
}

const std::vector<std::string>& DebugViews::lines(DebugView v) const {
    switch (v) {
        case DebugView::Sfr:
            return sfrLines_;
        case DebugView::Idata:
            return idata_;
        case DebugView::Xdata:
            return xdata_;
        default:
            return window_;
    }
}

ReportEffect DebugViews::apply(const std::uint8_t* frame, std::size_t length) {
    if (!frame || length < 4) return {};
    const int type = frame[3];
    if (type > 3 || length < minimumLength(type)) return {};
    switch (type) {
        case 0:
            return applySfr(frame, length);
        case 1:
            return applyIdata(frame, length);
        case 2:
            return applyXdata(frame, length);
        default:
            return applyWindow(frame, length);
    }
}

ReportEffect DebugViews::applySfr(const std::uint8_t* f, std::size_t len) {
    // Every register starts the report without a value; only those it carries get one.
    std::fill(sfr_.begin() + 0x80, sfr_.end(), kNoValue);
    std::vector<int> run(256, kNoValue);
    fillFrom(run, 0, f, len);
    for (std::size_t k = 0; k < run.size() && run[k] != kNoValue; ++k) {
        const std::size_t cell = f[6] + k;
        if (cell < sfr_.size()) sfr_[cell] = run[k];
    }
    // PSW, ACC, TCON, T2CON, CCON, IE and SP travel in the header.
    const int fixed[7] = {0xD0, 0xE0, 0x88, 0xC8, 0xD8, 0xA8, 0x81};
    for (int i = 0; i < 7; ++i)
        sfr_[static_cast<std::size_t>(fixed[i])] = f[7 + i];

    ReportEffect e;
    e.view = DebugView::Sfr;
    for (std::size_t i = 0; i < sfrRows_.size(); ++i) {
        std::string text = sfrLine(sfrRows_[i], sfrValue(sfrRows_[i].address));
        if (text != sfrLines_[i]) {
            sfrLines_[i] = std::move(text);
            e.changedLines.push_back(static_cast<int>(i));
        }
    }
    return e;
}

ReportEffect DebugViews::applyIdata(const std::uint8_t* f, std::size_t len) {
    // R0 and R1 travel in the header; the values after it continue from address 2.
    std::vector<int> cells(kIdataCells, kNoValue);
    cells[0] = f[15];
    cells[1] = f[14];
    fillFrom(cells, 2, f, len);
    return {DebugView::Idata, rewrite(idata_, cells, prefixesOf(idata_)), false};
}

ReportEffect DebugViews::applyXdata(const std::uint8_t* f, std::size_t len) {
    std::vector<int> cells(kXdataCells, kNoValue);
    fillFrom(cells, 0, f, len);
    return {DebugView::Xdata, rewrite(xdata_, cells, prefixesOf(xdata_)), false};
}

ReportEffect DebugViews::applyWindow(const std::uint8_t* f, std::size_t len) {
    const long base = ((static_cast<long>(f[5]) << 8) | f[6]) & ~0x1FFL;
    ReportEffect e;
    e.view = DebugView::Window;
    if (base != windowBase_) {
        buildWindowLines(base);
        e.rebuilt = true;
    }
    std::vector<int> cells(kWindowCells, kNoValue);
    fillFrom(cells, 0, f, len);
    e.changedLines = rewrite(window_, cells, prefixesOf(window_));
    if (e.rebuilt) {
        e.changedLines.clear();
        for (int i = 0; i < static_cast<int>(window_.size()); ++i)
            e.changedLines.push_back(i);
    }
    return e;
}

}  // namespace qmx
