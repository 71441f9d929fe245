#include "symbols/forward.h"

#include <algorithm>

#include "text.h"

namespace tarvo {
namespace {

std::string Folded(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
    return s;
}

}  // namespace

void Forwards::Wait(std::uint64_t id, Forward& f, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::string key = Folded(name);
        if (std::find(f.waits.begin(), f.waits.end(), key) != f.waits.end()) continue;
        waiting_[key].push_back(id);
        f.waits.push_back(std::move(key));
    }
}

void Forwards::Add(Forward f, const std::vector<std::string>& missing) {
    const std::uint64_t id = next_++;
    open_.push_back(std::make_unique<Forward>(std::move(f)));
    Wait(id, *open_.back(), missing);
}

std::vector<Forward> Forwards::Define(std::string_view name, const ExprEnv& env, std::string_view value) {
    std::vector<Forward> done;
    const std::string key = Folded(name);
    auto it = waiting_.find(key);
    if (it == waiting_.end()) return done;
    const std::vector<std::uint64_t> ids = std::move(it->second);
    waiting_.erase(it);
    // A number (every label) is its own known text and lacks nothing.
    std::int32_t n = 0;
    std::size_t end = 0;
    const bool number = ScanNumber(value, n, &end) == Scan::kNumber && end == value.size();
    const std::string known = number ? std::string(value) : Substitute(value, env);
    // The names the value itself still lacks: its users wait for them too.
    std::vector<std::string> missing;
    std::int32_t unused = 0;
    if (!number && Evaluate(known, env, unused, &missing) != ExprStatus::kUndefined) missing.clear();
    for (std::uint64_t id : ids) {
        if (id < first_ || !open_[static_cast<std::size_t>(id - first_)]) continue;
        Forward& f = *open_[static_cast<std::size_t>(id - first_)];
        f.waits.erase(std::find(f.waits.begin(), f.waits.end(), key));
        f.expr = Bind(f.expr, name, known);
        Wait(id, f, missing);
        if (!f.waits.empty()) continue;
        done.push_back(std::move(f));
        open_[static_cast<std::size_t>(id - first_)].reset();
    }
    while (!open_.empty() && !open_.front()) {
        open_.pop_front();
        ++first_;
    }
    return done;
}

}  // namespace tarvo
