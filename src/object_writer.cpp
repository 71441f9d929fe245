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
            Out(pc_, chunk, n);
            if (sink_ != nullptr) sink_->Final(pc_ - shift_, chunk, n);
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
        heldBase_ = pc_ - shift_;
        heldShift_ = shift_;
        firstRef_ = nextRef_;
    }
    const RefId id{nextRef_++, pc_ - shift_, static_cast<std::uint8_t>(n)};
    done_.push_back(false);
    locations_.push_back(pc_ - shift_);
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
    if (patch_) {
        fwrite_unlocked(image_.data(), 1, image_.size(), f_);
        image_ = {};
        patch_ = false;
    }
}

void ObjectWriter::Seek(std::uint32_t location) {
    shift_ += location - pc_;
    pc_ = location;
    if (!done_.empty()) seeks_.emplace_back(pc_ - shift_, shift_);
}

void ObjectWriter::Put(std::uint32_t location, const std::uint8_t* p, std::size_t n) {
    const std::size_t end = std::size_t{location} + n;
    if (end > image_.size()) {
        image_.resize(std::max<std::size_t>(image_.size(), location), 0xFF);
        image_.resize(end);
    }
    std::memcpy(image_.data() + location, p, n);
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
    // Piece by piece between the places where a patch moved the location.
    for (std::size_t done = 0;;) {
        const std::uint32_t at = heldBase_ + static_cast<std::uint32_t>(done);
        while (!seeks_.empty() && seeks_.front().first == at) {
            heldShift_ = seeks_.front().second;
            seeks_.pop_front();
        }
        if (done == upTo) break;
        std::size_t piece = upTo - done;
        if (!seeks_.empty()) piece = std::min<std::size_t>(piece, seeks_.front().first - at);
        Out(at + heldShift_, held_.data() + heldStart_ + done, piece);
        done += piece;
    }
    if (upTo > 0 && sink_ != nullptr) sink_->Final(heldBase_, held_.data() + heldStart_, upTo);
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
