#include "symbols/symbols.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "text.h"

namespace tarvo {
namespace {

constexpr unsigned char Fold(char c) { return static_cast<unsigned char>(FoldCase(c)); }

std::uint32_t HashName(std::string_view name) {
    std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a over the folded bytes
    for (char c : name) h = (h ^ Fold(c)) * 0x100000001b3ull;
    // FNV leaves the high bits of short, similar names ("L1", "L2", ...)
    // alike; the index takes its slot from the high bits, so mix them.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// The home slot of a hash in an index of any size (multiply and shift, not a mask).
std::size_t Home(std::uint32_t hash, std::size_t size) {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * size) >> 32);
}

}  // namespace

int stricmp(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        int d = Fold(a[i]) - Fold(b[i]);
        if (d != 0) return d;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SymbolList::SameName(const Slot& slot, std::string_view name) const {
    if (slot.nameLen == kNotInline) return stricmp(Record(slot).szName, name) == 0;
    return slot.nameLen == name.size() && stricmp(std::string_view(slot.text, slot.nameLen), name) == 0;
}

std::size_t SymbolList::Find(std::string_view name, std::uint32_t hash) const {
    const std::size_t size = index_.size();
    for (std::size_t i = Home(hash, size);; i = i + 1 == size ? 0 : i + 1) {
        const Slot& s = index_[i];
        if (s.record == kFree) return i;
        if (s.hash == hash && SameName(s, name)) return i;
    }
}

void SymbolList::Remember(std::string_view name, std::uint32_t hash, std::size_t at) const {
    if (name.size() > sizeof miss_.text) return;
    miss_.generation = generation_;
    miss_.at = at;
    miss_.hash = hash;
    miss_.length = static_cast<std::uint8_t>(name.size());
    name.copy(miss_.text, name.size());
}

void SymbolList::Grow() {
    ++generation_;
    std::vector<Slot> old = std::move(index_);
    // Doubling moves each name about twice in all; the home slots rise with
    // the hash, so the moves walk both tables in order.
    index_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    for (const Slot& s : old) {
        if (s.record == kFree) continue;
        const std::size_t size = index_.size();
        std::size_t i = Home(s.hash, size);
        while (index_[i].record != kFree) i = i + 1 == size ? 0 : i + 1;
        index_[i] = s;
    }
}

void SymbolList::Keep(Slot& slot, std::string_view name, std::string_view value) {
    slot.nameLen = slot.valueLen = kNotInline;
    if (name.size() <= sizeof slot.text) {
        slot.nameLen = static_cast<std::uint8_t>(name.size());
        name.copy(slot.text, name.size());
        if (name.size() + value.size() <= sizeof slot.text) {
            slot.valueLen = static_cast<std::uint8_t>(value.size());
            value.copy(slot.text + name.size(), value.size());
        }
    }
}

const Constant& SymbolList::InsertConstant(Constant record, std::uint32_t* waits, const Constant** previous) {
    Fit();
    std::uint32_t hash = HashName(record.szName);
    records_.push_back(std::move(record));
    const Constant& added = records_.back();
    if (!added.szName.empty()) shapes_[ShapeIndex(added.szName)] |= LengthBit(added.szName.size());
    Slot& slot = index_[Find(added.szName, hash)];
    if (slot.record == kFree) {
        ++names_;
        ++generation_;
    }
    if (waits != nullptr) *waits = slot.waits;
    if (previous != nullptr) *previous = slot.record != kFree && slot.defined ? &Record(slot) : nullptr;
    slot.hash = hash;
    slot.waits = kNoWaits;
    slot.record = static_cast<std::uint32_t>(records_.size());
    slot.defined = true;
    std::size_t end = 0;
    slot.numberKind = ScanNumber(added.szValue, slot.number, &end) != Scan::kNumber ? 0
                      : end == added.szValue.size()                                  ? 2
                                                                                     : 1;
    Keep(slot, added.szName, added.szValue);
    return added;
}

std::uint32_t& SymbolList::Waits(std::string_view name) {
    Fit();
    const bool remembered = miss_.generation == generation_ && miss_.length == name.size() &&
                            std::memcmp(miss_.text, name.data(), name.size()) == 0;
    const std::uint32_t hash = remembered ? miss_.hash : HashName(name);
    Slot& slot = index_[remembered ? miss_.at : Find(name, hash)];
    if (slot.record == kFree) {
        ++names_;
        ++generation_;
        slot.hash = hash;
        Keep(slot, name, {});
        if (slot.nameLen != kNotInline) {
            slot.record = kMark;
        } else {
            awaited_.emplace_back().szName = name;
            slot.record = static_cast<std::uint32_t>(awaited_.size());
        }
    }
    return slot.waits;
}

std::uint32_t SymbolList::TakeWaits(std::string_view name) {
    if (index_.empty()) return kNoWaits;
    Slot& slot = index_[Find(name, HashName(name))];
    return std::exchange(slot.waits, kNoWaits);
}

void SymbolList::ClearWaits() {
    for (Slot& slot : index_) slot.waits = kNoWaits;
}

const SymbolList::Slot* SymbolList::FindIndexed(std::string_view name) const {
    const std::uint32_t hash = HashName(name);
    const std::size_t at = Find(name, hash);
    const Slot& slot = index_[at];
    if (slot.defined) return &slot;
    Remember(name, hash, at);
    return nullptr;
}

void SymbolList::ClearConstant() {
    ++generation_;
    records_.clear();
    awaited_.clear();
    index_.clear();
    names_ = 0;
    std::fill(std::begin(shapes_), std::end(shapes_), 0u);
}

std::string_view LocalLabels::Number(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);  // "01" is 1
    return digits;
}

std::string LocalLabels::Define(std::string_view digits, std::uint32_t address) {
    const std::string n(Number(digits));
    std::string key = n + "#" + std::to_string(++count_[n]);
    values_[key] = address;
    return key;
}

std::string LocalLabels::Key(std::string_view digits, bool forward) const {
    const std::string n(Number(digits));
    auto it = count_.find(n);
    const std::uint32_t defined = it == count_.end() ? 0 : it->second;
    if (!forward && defined == 0) return {};
    return n + "#" + std::to_string(forward ? defined + 1 : defined);
}

std::optional<std::uint32_t> LocalLabels::Value(std::string_view key) const {
    auto it = values_.find(std::string(key));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string LocalLabels::Display(std::string_view name) {
    const std::size_t hash = name.find('#');
    return hash == std::string_view::npos ? std::string(name) : std::string(name.substr(0, hash)) + "f";
}

}  // namespace tarvo
