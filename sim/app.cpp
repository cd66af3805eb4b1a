#include "app.h"

#include <cstdio>
#include <string>

namespace qmxsim {

namespace {

// Longest frame accepted: a 512-byte block with its framing, with room to spare.
constexpr std::size_t kMaxFrame = 1100;
constexpr std::size_t kMinFrame = 7;

unsigned sum16(const std::uint8_t* data, std::size_t n) {
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += data[i];
    return s & 0xFFFF;
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

}  // namespace

std::uint16_t appModelCode(const std::string& name) {
    struct Row {
        const char* name;
        std::uint16_t code;
    };
    static const Row rows[] = {
        {"M-084", 0x0001}, {"M-086", 0x0002}, {"M-087", 0x0003}, {"M-089", 0x0004},
        {"M-092", 0x0005}, {"M-082", 0x0006}, {"M-066", 0x4001}, {"M-068", 0x4002},
        {"M-070", 0x4003}, {"M-072", 0x4004}, {"M-077", 0x4005}, {"M-065", 0x4006},
        {"M-056", 0x0051}, {"M-057", 0x0052}, {"M-058", 0x0053}, {"M-059", 0x0054},
        {"M-061", 0x0058}, {"M-055", 0x0516},
    };
    for (const Row& r : rows)
        if (name == r.name) return r.code;
    return 0;
}

Bytes buildUserFrame(const Bytes& body) {
    const std::size_t len = body.size() + 7;
    Bytes f;
    f.reserve(len);
    f.push_back(0x5A);
    f.push_back(0xA5);
    f.push_back(static_cast<std::uint8_t>(len >> 8));
    f.push_back(static_cast<std::uint8_t>(len));
    for (std::uint8_t b : body)
        f.push_back(b);
    const unsigned s = sum16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(s >> 8));
    f.push_back(static_cast<std::uint8_t>(s));
    f.push_back(0x16);
    return f;
}

ChipAction App::answer(const Bytes& body, double hostRate, const std::string& note) const {
    ChipAction a;
    a.kind = ChipAction::Kind::answer;
    a.bytes = buildUserFrame(body);
    a.sendRate = hostRate;
    a.note = note;
    return a;
}

std::vector<ChipAction> App::receive(std::uint8_t b, double hostRate) {
    std::vector<ChipAction> out;
    const Bytes& code = config_.userCode;
    if (!code.empty()) {
        recent_.push_back(b);
        if (recent_.size() > code.size()) recent_.erase(recent_.begin());
        if (recent_ == code) {
            recent_.clear();
            return userCodeSeen();
        }
    }
    if (loaderOpen_) return frameByte(b, hostRate);
    return out;
}

std::vector<ChipAction> App::userCodeSeen() {
    ChipAction note;
    note.kind = ChipAction::Kind::note;
    if (config_.inAppLoader) {
        loaderOpen_ = true;
        programmed_ = false;
        frame_.clear();
        note.note = "user code: the application's own loader listens for 5A A5 frames";
    } else {
        chip_.powerOn();  // jump into the resident boot loader, which waits for sync
        note.note = "user code: the application jumps into the boot loader";
    }
    return {note};
}

std::vector<ChipAction> App::frameByte(std::uint8_t b, double hostRate) {
    if (frame_.empty() && b != 0x5A) return {};
    if (frame_.size() == 1 && b != 0xA5) {
        frame_.clear();
        if (b == 0x5A) frame_.push_back(b);
        return {};
    }
    frame_.push_back(b);
    if (frame_.size() < 4) return {};
    const std::size_t len = frame_[2] * 256u + frame_[3];
    ChipAction drop;
    drop.kind = ChipAction::Kind::note;
    if (len < kMinFrame || len > kMaxFrame) {
        drop.note = "5A A5 frame with impossible length " + std::to_string(len) + " dropped";
        frame_.clear();
        return {drop};
    }
    if (frame_.size() < len) return {};
    Bytes f;
    f.swap(frame_);
    const unsigned want = f[len - 3] * 256u + f[len - 2];
    if (f[len - 1] != 0x16 || sum16(f.data(), len - 3) != want) {
        drop.note = "5A A5 frame with a bad end byte or sum dropped: " + hexText(f);
        return {drop};
    }
    return handle(f, hostRate);
}

std::vector<ChipAction> App::handle(const Bytes& f, double hostRate) {
    const std::uint8_t cmd = f[4];
    Bytes& flash = chip_.flash();
    switch (cmd) {
        case 0xB0:
            return {answer({0xB0}, hostRate, "B0 connect")};
        case 0xB5: {
            const std::uint16_t code = appModelCode(chip_.config().model.name);
            const Bytes body{0xB5, 0x00, static_cast<std::uint8_t>(code >> 8),
                             static_cast<std::uint8_t>(code), chip_.options()[0]};
            return {answer(body, hostRate, "B5 model code " + hex4(code))};
        }
        case 0xB2: {
            for (auto& cell : flash)
                cell = 0xFF;
            programmed_ = true;
            ChipAction a = answer({0xB2}, hostRate, "B2 erase");
            a.workMs = 200;
            return {a};
        }
        case 0xB3:
        case 0xB4: {
            if (f.size() < 14) return {};
            const std::uint32_t addr = (std::uint32_t{f[5]} << 24) | (std::uint32_t{f[6]} << 16) |
                                       (std::uint32_t{f[7]} << 8) | f[8];
            const std::size_t n = f[9] * 256u + f[10];
            ChipAction bad;
            bad.kind = ChipAction::Kind::note;
            if (n + 14 != f.size() || addr + n > flash.size()) {
                bad.note = "block frame with a count or address out of range: no answer";
                return {bad};
            }
            for (std::size_t i = 0; i < n; ++i)
                flash[addr + i] = f[11 + i];
            programmed_ = true;
            const unsigned ds = sum16(f.data() + 11, n);
            const Bytes body{cmd, static_cast<std::uint8_t>(ds >> 8),
                             static_cast<std::uint8_t>(ds)};
            return {answer(body, hostRate, "block " + hex4(addr) + " +" + std::to_string(n))};
        }
        case 0xB1: {
            // Finish: the loader closes and the new application starts. Nothing is answered.
            ChipAction note;
            note.kind = ChipAction::Kind::note;
            note.note = "B1 finish";
            if (!programmed_) return {note};
            programmed_ = false;
            if (!config_.userCode.empty()) loaderOpen_ = false;
            ChipAction run;
            run.kind = ChipAction::Kind::run;
            run.note = "B1 finish";
            return {note, run};
        }
        default: {
            ChipAction note;
            note.kind = ChipAction::Kind::note;
            note.note = "5A A5 command " + hex4(cmd) + " not known: no answer";
            return {note};
        }
    }
}

}  // namespace qmxsim
