#include "driver/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "text.h"

namespace tarvo {

bool OutputFile::Open(const std::string& name, std::FILE* direct) {
    name_ = name;
    if (direct != nullptr) {
        f_ = direct;
        return true;
    }
    // Through a symbolic link to the file it names, so the link stays.
    target_ = name;
    struct stat st;
    // A chain of links is followed to its end, which need not exist yet.
    for (int hops = 0; hops < 40 && lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hops) {
        char link[PATH_MAX];
        const ssize_t n = readlink(target_.c_str(), link, sizeof link - 1);
        if (n <= 0) break;
        const std::string to(link, static_cast<std::size_t>(n));
        const std::size_t slash = target_.rfind('/');
        target_ = to.front() == '/' || slash == std::string::npos ? to : target_.substr(0, slash + 1) + to;
    }
    exists_ = stat(target_.c_str(), &st) == 0;
    if (exists_) id_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), S_ISREG(st.st_mode)};
    const std::size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash);
    last_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    GetFileId(folder.c_str(), dir_);
    if (!exists_ || S_ISREG(st.st_mode)) {
        static std::atomic<unsigned> serial{0};
        temp_ = (slash == std::string::npos ? std::string() : target_.substr(0, slash + 1)) + "." + last_ + ".tarvo-" +
                std::to_string(getpid()) + "-" + std::to_string(serial++);
        // The new file gets the old one's permissions, or the usual ones.
        const mode_t mode = exists_ ? st.st_mode & 07777 : 0666;
        const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            if (exists_) fchmod(fd, mode);
            f_ = fdopen(fd, "wb");
            if (f_ == nullptr) ::close(fd);
        }
        if (f_ != nullptr) {
            owned_ = true;
            return true;
        }
        if (fd >= 0) unlink(temp_.c_str());
        temp_.clear();  // a folder we may not create in: the file is written in place
    }
    f_ = std::fopen(name.c_str(), "wb");
    owned_ = f_ != nullptr;
    return owned_;
}

bool OutputFile::SameAs(const OutputFile& other) const {
    // Devices and pipes take any number of writers (--listing=/dev/null --symbols=/dev/null).
    if (exists_ || other.exists_) return exists_ && other.exists_ && id_.regular && id_ == other.id_;
    return dir_ == other.dir_ && last_ == other.last_;
}

void OutputFile::Close(bool keep) {
    if (owned_ && std::fclose(f_) != 0) keep = false;
    owned_ = false;
    f_ = nullptr;
    if (temp_.empty()) return;
    if (!keep || std::rename(temp_.c_str(), target_.c_str()) != 0) unlink(temp_.c_str());
    temp_.clear();
}

void OutputFile::Remove() {
    Close(false);
    std::remove(target_.c_str());
}

void Listing::Line(std::uint32_t location, int line, bool included, std::string_view text) {
    Close(location);
    current_.start = current_.end = location;
    current_.line = line;
    current_.included = included;
    current_.text.assign(text.data(), text.size());
    current_.count = 0;
    current_.messages.clear();
    open_ = true;
}

void Listing::Close(std::uint32_t location) {
    if (!open_) return;
    open_ = false;
    current_.end = location;
    if (waiting_.empty() && released_ >= location) Print(current_);
    else waiting_.push_back(std::move(current_));
}

void Listing::Message(std::string_view text) {
    if (ended_ || !open_) trailing_.emplace_back(text);
    else current_.messages.emplace_back(text);
}

void Listing::Give(Record& r, const std::uint8_t* p, std::size_t n) {
    for (std::size_t k = 0; k < n && r.count + k < kShown; ++k) r.bytes[r.count + k] = p[k];
    r.count += n;
}

void Listing::Final(std::uint32_t location, const std::uint8_t* p, std::size_t n) {
    // Lines are contiguous and in image order: each byte belongs to the last
    // line that starts at or below it.
    std::size_t i = 0;
    for (std::size_t w = 0; w < waiting_.size() && i < n; ++w) {
        const std::uint32_t at = location + static_cast<std::uint32_t>(i);
        Record& r = waiting_[w];
        if (at >= r.end) continue;
        const std::size_t take = std::min<std::size_t>(n - i, r.end - at);
        Give(r, p + i, take);
        i += take;
    }
    if (i < n && open_) Give(current_, p + i, n - i);
    released_ = location + static_cast<std::uint32_t>(n);
    PrintReady();
}

void Listing::End(std::uint32_t location) {
    Close(location);
    ended_ = true;
}

void Listing::PrintReady() {
    while (!waiting_.empty() && released_ >= waiting_.front().end) {
        Print(waiting_.front());
        waiting_.pop_front();
    }
}

void Listing::Print(const Record& r) {
    const std::size_t shown = static_cast<std::size_t>(std::min<std::uint64_t>(r.count, kShown));
    // Every piece but the text and the messages fits in this much.
    out_.Room(64 + 40 * 8);
    auto bytes = [this, &r](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            if (k != from) out_ << ' ';
            out_.Hex(r.bytes[k], 2);
        }
    };
    // "%08x  %-23s  %5d%c %s"
    out_.Hex(r.start, 8) << "  ";
    const std::size_t first = std::min<std::size_t>(shown, 8);
    bytes(0, first);
    out_.Fill(' ', (first == 0 ? 23 : 23 - (first * 3 - 1)) + 2);
    out_.Dec(static_cast<unsigned>(r.line), 5, ' ') << (r.included ? '+' : ' ') << ' ';
    out_.Text(r.text);
    out_.Room(1 + 40 * 8);  // the end of the line and the continuation lines
    out_ << '\n';
    for (std::size_t at = 8; at < shown; at += 8) {
        out_.Hex(r.start + static_cast<std::uint32_t>(at), 8) << "  ";
        bytes(at, std::min(shown, at + 8));
        out_ << '\n';
    }
    if (r.count > kShown) {
        out_.Hex(r.start + static_cast<std::uint32_t>(kShown), 8);
        out_.Text("  ... " + std::to_string(r.count - kShown) + " more bytes\n");
    }
    for (const std::string& m : r.messages) Note(m);
}

void Listing::Note(std::string_view text) {
    out_.Text("; ");
    out_.Text(text);
    out_.Text("\n");
}

void Listing::Finish(const SymbolList& names) {
    Close(released_);
    released_ = ~0u;
    PrintReady();
    for (const std::string& m : trailing_) Note(m);
    out_.Text("; symbols\n");
    for (std::size_t i = 0; i < names.size(); ++i) {
        out_.Text(names[i].szName);
        out_.Text(" = ");
        out_.Text(names[i].szValue);
        out_.Text("\n");
    }
    out_.Flush();
}

void WriteSymbolFile(const SymbolList& names, std::FILE* f) {
    struct Entry {
        std::uint32_t value;
        const std::string* name;
    };
    std::vector<Entry> labels;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].IsLabel()) continue;
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
