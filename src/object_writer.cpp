#include "object_writer.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

void ObjectWriter::EmitFill(std::uint32_t count, std::uint8_t byte) { EmitRepeat(count, &byte, 1); }

void ObjectWriter::EmitRepeat(std::uint32_t items, const std::uint8_t* item, std::size_t size) {
    std::uint8_t chunk[4096];
    // The chunk is a multiple of every item size, so each begins with a whole item.
    for (std::size_t i = 0; i < sizeof chunk; ++i) chunk[i] = item[i % size];
    std::uint64_t total = std::uint64_t{items} * size;
    while (total > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, sizeof chunk));
        if (done_.empty()) {
            fwrite_unlocked(chunk, 1, n, f_);
            if (sink_ != nullptr) sink_->Final(pc_, chunk, n);
        } else {
            held_.insert(held_.end(), chunk, chunk + n);
        }
        pc_ += n;
        total -= n;
    }
}

ObjectWriter::RefId ObjectWriter::Reserve(const std::uint8_t* p, std::size_t n) {
    if (done_.empty()) {
        held_.clear();
        heldStart_ = 0;
        heldBase_ = pc_;
        firstRef_ = nextRef_;
    }
    const RefId id{nextRef_++, pc_, static_cast<std::uint8_t>(n)};
    done_.push_back(false);
    locations_.push_back(pc_);
    Emit(p, n);
    return id;
}

void ObjectWriter::Patch(const RefId& id, const std::uint8_t* p) {
    std::memcpy(held_.data() + heldStart_ + (id.location - heldBase_), p, id.length);
    done_[static_cast<std::size_t>(id.serial - firstRef_)] = true;
    Release();
}

void ObjectWriter::Finish() {
    std::fill(done_.begin(), done_.end(), true);
    Release();
}

// Writes out what lies before the oldest field still open. The written part
// is dropped from the front lazily, so a long run of fills costs no copying.
void ObjectWriter::Release() {
    while (!done_.empty() && done_.front()) {
        done_.pop_front();
        locations_.pop_front();
        ++firstRef_;
    }
    const std::size_t upTo = done_.empty() ? held_.size() - heldStart_ : locations_.front() - heldBase_;
    if (upTo > 0) {
        fwrite_unlocked(held_.data() + heldStart_, 1, upTo, f_);
        if (sink_ != nullptr) sink_->Final(heldBase_, held_.data() + heldStart_, upTo);
    }
    heldStart_ += upTo;
    heldBase_ += static_cast<std::uint32_t>(upTo);
    if (done_.empty()) {
        held_.clear();
        heldStart_ = 0;
    } else if (heldStart_ > held_.size() / 2) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldStart_));
        heldStart_ = 0;
    }
}

}  // namespace tarvo
