#include "symbols/forward.h"

#include <algorithm>

#include "text.h"

namespace tarvo {
namespace {

// Names wait in lower case: letter case is not significant in names.
struct Folded {
    char small[32];
    std::string large;
    std::string_view view;
    explicit Folded(std::string_view name) {
        char* out = small;
        if (name.size() > sizeof small) {
            large.resize(name.size());
            out = large.data();
        }
        for (std::size_t i = 0; i < name.size(); ++i) out[i] = FoldCase(name[i]);
        view = {out, name.size()};
    }
};

}  // namespace

void Forwards::Wait(std::uint64_t id, std::string_view key) {
    auto it = waiting_.find(key);
    if (it == waiting_.end()) it = waiting_.try_emplace(std::string(key)).first;
    Chain& chain = it->second;
    std::uint32_t link = freeLinks_;
    if (link == kEnd) {
        link = static_cast<std::uint32_t>(links_.size());
        links_.push_back({});
    } else {
        freeLinks_ = links_[link].next;
    }
    links_[link] = {id, kEnd};
    if (chain.tail == kEnd) chain.head = link;
    else links_[chain.tail].next = link;
    chain.tail = link;
}

void Forwards::WaitOnce(std::uint64_t id, Forward& f, std::string_view name) {
    const Folded key(name);
    if (std::find(f.waits.begin(), f.waits.end(), key.view) != f.waits.end()) return;
    f.waits.emplace_back(key.view);
    Wait(id, key.view);
}

Forward& Forwards::Next() {
    Settle();
    if (next_slot_ == kDone) {
        if (free_.empty()) {
            next_slot_ = static_cast<std::uint32_t>(slots_.size());
            slots_.emplace_back();
        } else {
            next_slot_ = free_.back();
            free_.pop_back();
        }
    }
    Forward& f = slots_[next_slot_];
    f.waits.clear();
    f.bare = f.known = false;
    f.value = 0;
    return f;
}

std::uint64_t Forwards::Open() {
    open_.push_back(next_slot_);
    next_slot_ = kDone;
    return next_++;
}

void Forwards::Add(const std::vector<std::string>& missing) {
    Forward& f = slots_[next_slot_];
    const std::uint64_t id = Open();
    for (const std::string& name : missing) WaitOnce(id, f, name);
}

void Forwards::Add() {
    const std::string_view name = slots_[next_slot_].expr;
    const std::uint64_t id = Open();
    Wait(id, Folded(name).view);
}

const std::vector<const Forward*>& Forwards::Define(std::string_view name, const ExprEnv& env,
                                                    std::string_view value, const std::int32_t* number) {
    Settle();
    const Folded key(name);
    auto it = waiting_.find(key.view);
    if (it == waiting_.end()) return ready_;
    std::uint32_t link = it->second.head;
    waiting_.erase(it);
    // Made when a use needs them: the value with what is known put in, and
    // the names it still lacks itself (its users wait for them too).
    std::string known;
    std::vector<std::string> missing;
    bool made = false;
    while (link != kEnd) {
        const std::uint64_t id = links_[link].id;
        const std::uint32_t next = links_[link].next;
        links_[link].next = freeLinks_;
        freeLinks_ = link;
        link = next;
        if (id < first_) continue;
        const std::uint32_t slot = open_[static_cast<std::size_t>(id - first_)];
        if (slot == kDone) continue;
        Forward& f = slots_[slot];
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
            f.waits.erase(std::remove(f.waits.begin(), f.waits.end(), key.view), f.waits.end());
            for (const std::string& m : missing) WaitOnce(id, f, m);
            if (!f.waits.empty()) continue;
        }
        open_[static_cast<std::size_t>(id - first_)] = kDone;
        readySlots_.push_back(slot);
        ready_.push_back(&f);
    }
    return ready_;
}

// The uses handed out by the last Define are filled by now.
void Forwards::Settle() {
    if (readySlots_.empty()) return;
    for (std::uint32_t slot : readySlots_) {
        slots_[slot].expr.clear();
        slots_[slot].waits.clear();
        free_.push_back(slot);
    }
    readySlots_.clear();
    ready_.clear();
    while (!open_.empty() && open_.front() == kDone) {
        open_.pop_front();
        ++first_;
    }
}

void Forwards::Clear() {
    open_.clear();
    slots_.clear();
    free_.clear();
    next_slot_ = kDone;
    waiting_.clear();
    links_.clear();
    freeLinks_ = kEnd;
    ready_.clear();
    readySlots_.clear();
    first_ = next_;
}

}  // namespace tarvo
