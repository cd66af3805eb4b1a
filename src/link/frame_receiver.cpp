#include "link/frame_receiver.h"

#include "link/wire_format.h"

namespace qmx {

void FrameReceiver::push(const std::uint8_t* data, std::size_t count) {
    pending_.insert(pending_.end(), data, data + count);
}

void FrameReceiver::drop_pending() {
    pending_.clear();
    pendingPos_ = 0;
}

void FrameReceiver::reset() {
    count_ = 0;
    frameReady_ = false;
    userFrameReady_ = false;
    head46_ = false;
    headB9_ = false;
}

void FrameReceiver::clear_after_flush() {
    drop_pending();
    count_ = 0;
    frameReady_ = false;
    head46_ = false;
}

bool FrameReceiver::consume() {
    bool flushWanted = false;
    if (userMode_) {
        flushWanted = take_user_bytes();
    } else if (!debugMode_) {
        take_boot_loader_bytes();
    } else {
        if (debugSink_ && pending() > 0) debugSink_(pending_.data() + pendingPos_, pending());
        drop_pending();
    }
    if (pendingPos_ >= pending_.size()) drop_pending();
    return flushWanted;
}

void FrameReceiver::check_boot_frame() {
    switch (wire::checkAnswer(stored(), crcCheck_ ? wire::Check::Crc : wire::Check::Sum)) {
        case wire::AnswerCheck::Incomplete:
            return;
        case wire::AnswerCheck::BadEnd:
            buffer_[0] = 0;
            reset();
            return;
        case wire::AnswerCheck::BadCheck:
            frameError_ = true;
            // A CRC'd answer stays where it is: the offline board's waits look at it.
            if (!crcCheck_) reset();
            return;
        case wire::AnswerCheck::Good:
            frameReady_ = true;
            if (!crcCheck_) clear_header_search();
            return;
    }
}

void FrameReceiver::take_boot_loader_bytes() {
    // Bytes are taken one at a time, as a port raising an event per received byte delivers
    // them; a frame dropped for a bad end byte or sum therefore does not take the bytes that
    // arrived behind it in the same read.
    while (pending() > 0) {
        if (headerExpected_ && count_ == 0 && !(head46_ && headB9_)) {
            const std::uint8_t b = pending_[pendingPos_++];
            if (!head46_) {
                if (b == wire::kHeadFirst) {
                    head46_ = true;
                    headB9_ = false;
                }
            } else if (b == wire::kHeadSecond) {
                headB9_ = true;
            } else {
                clear_header_search();
            }
            continue;
        }
        if (!armed_) {
            pendingPos_ = pending_.size();
            return;
        }
        const std::uint8_t b = pending_[pendingPos_++];
        if (count_ == 0 && b != wire::kFromChip) continue;
        store(b);
        check_boot_frame();
    }
}

bool FrameReceiver::check_user_frame() {
    // A header whose declared length cannot be a frame (noise on the line) is dropped at once,
    // so an answer right behind it is still recognised.
    constexpr int kShortestUserFrame = 7;  // 5A A5 LL LL sumH sumL 16
    const int length = wire::userFrameLength(stored());
    if (length < kShortestUserFrame || length > kSize) {
        reset();
        return false;
    }
    if (userFrameReady_) return false;
    switch (wire::checkUserFrame(stored())) {
        case wire::AnswerCheck::Incomplete:
            return false;
        case wire::AnswerCheck::Good:
            userFrameReady_ = true;
            return false;
        case wire::AnswerCheck::BadCheck:
            reset();
            return false;
        case wire::AnswerCheck::BadEnd:
            drop_pending();
            reset();
            return true;
    }
    return false;
}

bool FrameReceiver::take_user_bytes() {
    // Taken one byte at a time, the two marker bytes searched for first.
    while (pending() > 0) {
        const std::uint8_t b = pending_[pendingPos_++];
        if (count_ == 0) {
            if (b == wire::kUserFirst) store(b);
            continue;
        }
        if (count_ == 1) {
            if (b == wire::kUserSecond) {
                store(b);
            } else {
                count_ = 0;
                if (b == wire::kUserFirst) store(b);
            }
            continue;
        }
        store(b);
        if (count_ <= 3) continue;
        if (check_user_frame()) return true;
    }
    return false;
}

}  // namespace qmx
