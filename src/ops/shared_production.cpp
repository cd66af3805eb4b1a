#include "ops/shared_production.h"

#include <cstdlib>

#include "ops/download_driver.h"
#include "ops/serial_number_store.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace qmx {

namespace {

std::uint64_t valueOf(const std::string& digits) {
    return digits.empty() ? 0 : std::strtoull(digits.c_str(), nullptr, 10);
}

}  // namespace

SharedProduction::SharedProduction(SettingsStore& store, const std::string& okCount,
                                   const SerialNumberSpec& numbering)
    : store_(store), numbering_(numbering.enabled && numbering.active), fresh_(numbering) {
    const long long n = std::atoll(okCount.c_str());
    okCount_ = n > 0 ? static_cast<std::uint64_t>(n) : 0;
}

std::string SharedProduction::countSuccess(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++okCount_;
    const std::string text = std::to_string(okCount_);
    storeWriteOkCount(store_, text);
    error = store_.save();
    return text;
}

std::string SharedProduction::okCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::to_string(okCount_);
}

bool SharedProduction::canReserve(std::string& error) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!released_.empty()) return true;
    if (encodeSerialNumber(fresh_.nextValueText, fresh_.count, fresh_.format).error.empty())
        return true;
    error = serialSeriesStoppedText(fresh_.nextValueText);
    return false;
}

std::optional<SerialTicket> SharedProduction::reserveSerial(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!released_.empty()) {
        SerialTicket t{++lastTicket_, released_.begin()->second};
        released_.erase(released_.begin());
        reserved_[t.id] = t.value;
        return t;
    }
    if (!encodeSerialNumber(fresh_.nextValueText, fresh_.count, fresh_.format).error.empty()) {
        error = serialSeriesStoppedText(fresh_.nextValueText);
        return std::nullopt;
    }
    SerialTicket t{++lastTicket_, fresh_.nextValueText};
    fresh_.active = true;
    advanceSerialNumber(fresh_);
    reserved_[t.id] = t.value;
    return t;
}

std::string SharedProduction::commitSerial(const SerialTicket& ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reserved_.erase(ticket.id) == 0) return {};
    const std::uint64_t v = valueOf(ticket.value);
    if (highestCommitted_ && *highestCommitted_ >= v) return {};
    highestCommitted_ = v;
    return saveNextAfter(v);
}

void SharedProduction::releaseSerial(const SerialTicket& ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reserved_.erase(ticket.id) == 0) return;
    released_.insert({valueOf(ticket.value), ticket.value});
}

std::vector<std::string> SharedProduction::unusedSerials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : released_)
        out.push_back(r.second);
    return out;
}

// The settings' next value becomes the number after `value`: what a later run starts with.
std::string SharedProduction::saveNextAfter(std::uint64_t value) {
    SerialNumberSpec next = fresh_;
    next.nextValueText = std::to_string(value);
    next.active = true;
    advanceSerialNumber(next);
    saveSerialSettings(next, store_);
    return store_.save();
}

}  // namespace qmx
