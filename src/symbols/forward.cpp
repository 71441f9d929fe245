#include "symbols/forward.h"

#include <algorithm>

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
    Forward& added = open_.emplace(id, std::move(f)).first->second;
    Wait(id, added, missing);
}

std::vector<Forward> Forwards::Define(std::string_view name, const ExprEnv& env, std::string_view value) {
    std::vector<Forward> done;
    const std::string key = Folded(name);
    auto it = waiting_.find(key);
    if (it == waiting_.end()) return done;
    const std::vector<std::uint64_t> ids = std::move(it->second);
    waiting_.erase(it);
    const std::string known = Substitute(value, env);
    // The names the value itself still lacks: its users wait for them too.
    std::vector<std::string> missing;
    std::int32_t unused = 0;
    if (Evaluate(known, env, unused, &missing) != ExprStatus::kUndefined) missing.clear();
    for (std::uint64_t id : ids) {
        auto use = open_.find(id);
        if (use == open_.end()) continue;
        Forward& f = use->second;
        f.waits.erase(std::find(f.waits.begin(), f.waits.end(), key));
        f.expr = Bind(f.expr, name, known);
        Wait(id, f, missing);
        if (!f.waits.empty()) continue;
        done.push_back(std::move(f));
        open_.erase(use);
    }
    return done;
}

}  // namespace tarvo
