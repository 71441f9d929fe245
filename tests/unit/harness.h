// Runs the library on in-memory sources and images.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "globals.h"

namespace tarvo::test {

// A stream that collects what is written to it.
class MemOut {
public:
    MemOut() : f_(open_memstream(&data_, &size_)) {}
    ~MemOut() {
        std::fclose(f_);
        std::free(data_);
    }
    MemOut(const MemOut&) = delete;
    MemOut& operator=(const MemOut&) = delete;
    std::FILE* get() const { return f_; }
    std::string str() {
        std::fflush(f_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* f_;
};

// A read stream over a copy of text (fmemopen cannot open an empty buffer).
inline std::FILE* MemIn(const std::string& text) {
    if (text.empty()) return std::fopen("/dev/null", "r");
    return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

struct Run {
    std::string bytes;   // the object stream
    std::string output;  // every message
    int result = 0;      // GenerateObj's or Dissasm's
    std::int32_t nPC = 0, nErrors = 0;
};

Run AssembleText(const std::string& source);
Run ListImage(const std::string& image, std::int32_t start, std::int32_t count, std::string& listing);

// "41 00 9a" -> the bytes
std::string Bytes(const std::string& hex);
std::string Hex(const std::string& bytes);

}  // namespace tarvo::test
