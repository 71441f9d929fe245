#include "symbols/forward.h"

#include <algorithm>

namespace tarvo {
namespace {

// Letter case is not significant in names.
bool SameName(std::string_view a, std::string_view b) { return a.size() == b.size() && stricmp(a, b) == 0; }

}  // namespace

void Forwards::Wait(SymbolList& names, std::uint64_t id, std::uint32_t slot, std::string_view name) {
    std::uint32_t link = freeLinks_;
    if (link == kEnd) {
        link = static_cast<std::uint32_t>(links_.size());
        links_.push_back({});
    } else {
        freeLinks_ = links_[link].next;
    }
    std::uint32_t& last = names.Waits(name);
    links_[link] = {id, slot, last == kEnd ? link : links_[last].next};
    if (last != kEnd) links_[last].next = link;
    last = link;
}

void Forwards::WaitOnce(SymbolList& names, std::uint32_t slot, std::string_view name) {
    Forward& f = Record(slot);
    if (std::any_of(f.waits.begin(), f.waits.end(), [name](const std::string& w) { return SameName(w, name); }))
        return;
    f.waits.emplace_back(name);
    Wait(names, f.id, slot, name);
}

Forward& Forwards::Next() {
    Settle();
    if (next_slot_ == kEnd) {
        if (free_.empty()) {
            if ((records_ >> kBlockShift) == blocks_.size())
                blocks_.push_back(std::make_unique<Forward[]>(std::size_t{1} << kBlockShift));
            next_slot_ = records_++;
            Record(next_slot_).id = Forward::kFree;
        } else {
            next_slot_ = free_.back();
            free_.pop_back();
        }
    }
    // A record is freed only once it waits for nothing, so its list of
    // names is empty already.
    Forward& f = Record(next_slot_);
    f.bare = f.known = false;
    f.value = 0;
    return f;
}

std::uint64_t Forwards::Open() {
    Record(next_slot_).id = next_;
    next_slot_ = kEnd;
    ++open_;
    return next_++;
}

void Forwards::Add(SymbolList& names, const std::vector<std::string>& missing) {
    const std::uint32_t slot = next_slot_;
    Open();
    for (const std::string& name : missing) WaitOnce(names, slot, name);
}

void Forwards::Add(SymbolList& names) {
    const std::uint32_t slot = next_slot_;
    const std::uint64_t id = Open();
    Wait(names, id, slot, Record(slot).expr);
}

const std::vector<const Forward*>& Forwards::Define(SymbolList& names, std::uint32_t waits, std::string_view name,
                                                    const ExprEnv& env, std::string_view value,
                                                    const std::int32_t* number) {
    Settle();
    if (waits == kEnd) return ready_;
    // The ring opens at its first link; the last one ends the walk.
    std::uint32_t link = links_[waits].next;
    links_[waits].next = kEnd;
    // Made when a use needs them: the value with what is known put in, and
    // the names it still lacks itself (its users wait for them too).
    std::string known;
    std::vector<std::string> missing;
    bool made = false;
    while (link != kEnd) {
        const Link l = links_[link];
        links_[link].next = freeLinks_;
        freeLinks_ = link;
        link = l.next;
        Forward& f = Record(l.slot);
        if (f.id != l.id) continue;
        if (f.bare && number != nullptr) {
            f.known = true;
            f.value = *number;
        } else {
            if (!made) {
                known = number != nullptr ? std::string(value) : Substitute(value, env);
                std::int32_t unused = 0;
                if (number == nullptr && Evaluate(known, env, unused, &missing) != ExprStatus::kUndefined) missing.clear();
                made = true;
            }
            f.bare = false;
            f.expr = Bind(f.expr, name, known);
            f.waits.erase(std::remove_if(f.waits.begin(), f.waits.end(),
                                         [name](const std::string& w) { return SameName(w, name); }),
                          f.waits.end());
            for (const std::string& m : missing) WaitOnce(names, l.slot, m);
            if (!f.waits.empty()) continue;
        }
        f.id = Forward::kFree;
        --open_;
        readySlots_.push_back(l.slot);
        ready_.push_back(&f);
    }
    return ready_;
}

// The uses handed out by the last Define are filled by now; their records
// keep their strings for the next uses.
void Forwards::Settle() {
    if (readySlots_.empty()) return;
    free_.insert(free_.end(), readySlots_.begin(), readySlots_.end());
    readySlots_.clear();
    ready_.clear();
}

void Forwards::Clear(SymbolList& names) {
    // Only uses still open leave chains behind.
    if (open_ != 0) names.ClearWaits();
    open_ = 0;
    blocks_.clear();
    records_ = 0;
    free_.clear();
    next_slot_ = kEnd;
    links_.clear();
    freeLinks_ = kEnd;
    ready_.clear();
    readySlots_.clear();
}

}  // namespace tarvo
