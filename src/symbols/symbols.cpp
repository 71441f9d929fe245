#include "symbols/symbols.h"

namespace tarvo {
namespace {

constexpr unsigned char Fold(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u | 0x20) : u;
}

std::uint32_t HashName(std::string_view name) {
    std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a over the folded bytes
    for (char c : name) h = (h ^ Fold(c)) * 0x100000001b3ull;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
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

std::size_t SymbolList::Find(std::string_view name, std::uint32_t hash) const {
    std::size_t mask = index_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = index_[i];
        if (s.record == 0) return i;
        if (s.hash == hash && stricmp(records_[s.record - 1].szName, name) == 0) return i;
    }
}

void SymbolList::Grow() {
    std::vector<Slot> old = std::move(index_);
    index_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    for (const Slot& s : old) {
        if (s.record == 0) continue;
        std::size_t mask = index_.size() - 1;
        std::size_t i = s.hash & mask;
        while (index_[i].record != 0) i = (i + 1) & mask;
        index_[i] = s;
    }
}

void SymbolList::InsertConstant(Constant record) {
    if ((names_ + 1) * 2 > index_.size()) Grow();
    std::uint32_t hash = HashName(record.szName);
    records_.push_back(std::move(record));
    Slot& slot = index_[Find(records_.back().szName, hash)];
    if (slot.record == 0) ++names_;
    slot = {hash, static_cast<std::uint32_t>(records_.size())};
}

std::optional<std::string_view> SymbolList::CheckConstant(std::string_view name) const {
    if (records_.empty()) return std::nullopt;
    const Slot& slot = index_[Find(name, HashName(name))];
    if (slot.record == 0) return std::nullopt;
    return std::string_view(records_[slot.record - 1].szValue);
}

void SymbolList::ClearConstant() {
    records_.clear();
    index_.clear();
    names_ = 0;
}

}  // namespace tarvo
