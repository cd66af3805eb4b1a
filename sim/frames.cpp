#include "frames.h"

namespace qmxsim {

std::uint8_t sum8(const std::uint8_t* data, std::size_t n) {
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += data[i];
    return static_cast<std::uint8_t>(s & 0xFF);
}

void CommandReceiver::reset() {
    state_ = State::hunt;
    buf_.clear();
    length_ = 0;
}

CommandReceiver::Result CommandReceiver::feed(std::uint8_t b) {
    switch (state_) {
        case State::hunt:
            if (b == 0x46) state_ = State::gotHeader1;
            return Result::none;
        case State::gotHeader1:
            if (b == 0xB9) {
                state_ = State::gotHeader2;
            } else if (b != 0x46) {
                state_ = State::hunt;
            }
            return Result::none;
        case State::gotHeader2:
            if (b == 0x6A) {
                buf_.assign(1, b);
                length_ = 0;
                state_ = State::body;
            } else {
                state_ = b == 0x46 ? State::gotHeader1 : State::hunt;
            }
            return Result::none;
        case State::body:
            break;
    }
    buf_.push_back(b);
    if (buf_.size() == 3) {
        length_ = static_cast<std::size_t>(buf_[1]) * 256 + buf_[2];
        // Direction, two length bytes, command, sum and end byte: six at least.
        if (length_ < 6 || length_ > kMaxLength) {
            fault_ = FrameFault::badLength;
            rejected_ = buf_;
            reset();
            return Result::rejected;
        }
        return Result::none;
    }
    if (buf_.size() < 3 || buf_.size() < length_) return Result::none;

    // Whole frame collected.
    const std::size_t L = length_;
    if (buf_[L - 1] != 0x16) {
        fault_ = FrameFault::badEnd;
    } else if (sum8(buf_.data(), L - 2) != buf_[L - 2]) {
        fault_ = FrameFault::badSum;
    } else {
        fault_ = FrameFault::none;
    }
    if (fault_ != FrameFault::none) {
        rejected_.assign({0x46, 0xB9});
        rejected_.insert(rejected_.end(), buf_.begin(), buf_.end());
        reset();
        return Result::rejected;
    }
    frame_.command = buf_[3];
    frame_.payload.assign(buf_.begin() + 4, buf_.begin() + static_cast<std::ptrdiff_t>(L - 2));
    frame_.raw.assign({0x46, 0xB9});
    frame_.raw.insert(frame_.raw.end(), buf_.begin(), buf_.end());
    reset();
    return Result::frame;
}

Bytes buildCommand(std::uint8_t command, const Bytes& payload) {
    Bytes f{0x46, 0xB9, 0x6A};
    const std::size_t L = payload.size() + 6;
    f.push_back(static_cast<std::uint8_t>(L >> 8));
    f.push_back(static_cast<std::uint8_t>(L & 0xFF));
    f.push_back(command);
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(sum8(f.data() + 2, f.size() - 2));
    f.push_back(0x16);
    return f;
}

Bytes buildAnswer(const Bytes& body, bool header) {
    Bytes f;
    if (header) f = {0x46, 0xB9};
    const std::size_t start = f.size();
    const std::size_t L = body.size() + 5;
    f.push_back(0x68);
    f.push_back(static_cast<std::uint8_t>(L >> 8));
    f.push_back(static_cast<std::uint8_t>(L & 0xFF));
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(sum8(f.data() + start, f.size() - start));
    f.push_back(0x16);
    return f;
}

std::string hexText(const std::uint8_t* data, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) s.push_back(' ');
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 0xF]);
    }
    return s;
}

}  // namespace qmxsim
