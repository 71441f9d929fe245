#include "driver/outputs.h"

#include <algorithm>

#include "text.h"

namespace tarvo {

void Listing::Line(std::uint32_t location, int line, bool included, std::string_view text) {
    if (!lines_.empty() && !lines_.back().closed) {
        lines_.back().end = location;
        lines_.back().closed = true;
    }
    Record r;
    r.start = r.end = location;
    r.line = line;
    r.included = included;
    r.text = text;
    lines_.push_back(std::move(r));
    if (released_ < location && lines_.size() == 1) released_ = location;
    Print();
}

void Listing::Message(std::string_view text) {
    if (ended_ || lines_.empty()) trailing_.emplace_back(text);
    else lines_.back().messages.emplace_back(text);
}

void Listing::Final(std::uint32_t location, const std::uint8_t* p, std::size_t n) {
    // Records are contiguous and in image order: each byte belongs to the
    // last record that starts at or below it.
    std::size_t i = 0;
    while (i < n && !lines_.empty()) {
        const std::uint32_t at = location + static_cast<std::uint32_t>(i);
        while (cursor_ + 1 < lines_.size() && lines_[cursor_ + 1].start <= at) ++cursor_;
        Record& r = lines_[cursor_];
        std::size_t take = n - i;
        if (cursor_ + 1 < lines_.size()) take = std::min<std::size_t>(take, lines_[cursor_ + 1].start - at);
        for (std::size_t k = 0; k < take && r.count + k < kShown; ++k) r.bytes[r.count + k] = p[i + k];
        r.count += take;
        i += take;
    }
    released_ = location + static_cast<std::uint32_t>(n);
    Print();
}

void Listing::End(std::uint32_t location) {
    if (!lines_.empty() && !lines_.back().closed) {
        lines_.back().end = location;
        lines_.back().closed = true;
    }
    ended_ = true;
    Print();
}

void Listing::Print() {
    while (!lines_.empty() && lines_.front().closed && released_ >= lines_.front().end) {
        PrintRecord(lines_.front());
        lines_.pop_front();
        if (cursor_ > 0) --cursor_;
    }
}

void Listing::PrintRecord(const Record& r) {
    auto hex = [&r](std::size_t from, std::size_t to) {
        std::string s;
        for (std::size_t k = from; k < to; ++k) {
            char b[4];
            std::snprintf(b, sizeof b, k == from ? "%02x" : " %02x", r.bytes[k]);
            s += b;
        }
        return s;
    };
    const std::size_t shown = static_cast<std::size_t>(std::min<std::uint64_t>(r.count, kShown));
    std::fprintf(f_, "%08x  %-23s  %5d%c %s\n", static_cast<unsigned>(r.start), hex(0, std::min<std::size_t>(shown, 8)).c_str(),
                 r.line, r.included ? '+' : ' ', r.text.c_str());
    for (std::size_t k = 8; k < shown; k += 8)
        std::fprintf(f_, "%08x  %s\n", static_cast<unsigned>(r.start + k), hex(k, std::min(shown, k + 8)).c_str());
    if (r.count > kShown)
        std::fprintf(f_, "%08x  ... %llu more bytes\n", static_cast<unsigned>(r.start + kShown),
                     static_cast<unsigned long long>(r.count - kShown));
    for (const std::string& m : r.messages) std::fprintf(f_, "; %s\n", m.c_str());
}

void Listing::Finish(const SymbolList& names) {
    for (Record& r : lines_) r.closed = true;
    released_ = ~0u;
    Print();
    for (const std::string& m : trailing_) std::fprintf(f_, "; %s\n", m.c_str());
    std::fputs("; symbols\n", f_);
    for (std::size_t i = 0; i < names.size(); ++i)
        std::fprintf(f_, "%s = %s\n", names[i].szName.c_str(), names[i].szValue.c_str());
}

void WriteSymbolFile(const SymbolList& names, std::FILE* f) {
    struct Entry {
        std::uint32_t value;
        const std::string* name;
    };
    std::vector<Entry> labels;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].bLabel) continue;
        std::int32_t v = 0;
        ReadNumber(names[i].szValue, v);
        labels.push_back({static_cast<std::uint32_t>(v), &names[i].szName});
    }
    std::stable_sort(labels.begin(), labels.end(), [](const Entry& a, const Entry& b) { return a.value < b.value; });
    for (const Entry& e : labels) std::fprintf(f, "%08X %s\n", static_cast<unsigned>(e.value), e.name->c_str());
}

namespace {

// Make reads a blank as a separator and '$' as a variable.
std::string MakeEscaped(std::string_view path) {
    std::string out;
    for (char c : path) {
        if (c == ' ') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

}  // namespace

void WriteDependencies(const std::deque<std::string>& files, const std::string& target, std::FILE* f) {
    std::vector<std::string_view> unique;
    for (const std::string& path : files)
        if (std::find(unique.begin(), unique.end(), path) == unique.end()) unique.push_back(path);
    std::fprintf(f, "%s:", MakeEscaped(target).c_str());
    for (std::string_view path : unique) std::fprintf(f, " %s", MakeEscaped(path).c_str());
    std::fputc('\n', f);
    for (std::size_t i = 1; i < unique.size(); ++i) std::fprintf(f, "%s:\n", MakeEscaped(unique[i]).c_str());
}

}  // namespace tarvo
