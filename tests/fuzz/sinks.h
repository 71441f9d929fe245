// Streams for the fuzz targets: one that counts what is written and keeps
// nothing, and one that keeps what is written.
#pragma once
#include <cstdio>
#include <string>

namespace tarvo::fuzz {

struct Counter {
    unsigned long long bytes = 0;
};
std::FILE* OpenCounter(Counter& counter);

struct Collector {
    std::string text;
};
std::FILE* OpenCollector(Collector& collector);

// Image bytes as a read stream (fmemopen refuses an empty buffer).
std::FILE* OpenImage(const unsigned char* data, std::size_t size);

}  // namespace tarvo::fuzz
