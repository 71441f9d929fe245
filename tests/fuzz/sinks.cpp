#include "sinks.h"

#include <sys/types.h>

namespace tarvo::fuzz {
namespace {

ssize_t CountWrite(void* cookie, const char*, size_t size) {
    static_cast<Counter*>(cookie)->bytes += size;
    return static_cast<ssize_t>(size);
}

ssize_t CollectWrite(void* cookie, const char* data, size_t size) {
    static_cast<Collector*>(cookie)->text.append(data, size);
    return static_cast<ssize_t>(size);
}

}  // namespace

std::FILE* OpenCounter(Counter& counter) {
    return fopencookie(&counter, "w", cookie_io_functions_t{nullptr, CountWrite, nullptr, nullptr});
}

std::FILE* OpenCollector(Collector& collector) {
    return fopencookie(&collector, "w", cookie_io_functions_t{nullptr, CollectWrite, nullptr, nullptr});
}

std::FILE* OpenImage(const unsigned char* data, std::size_t size) {
    if (size == 0) return std::fopen("/dev/null", "r");
    return fmemopen(const_cast<unsigned char*>(data), size, "r");
}

}  // namespace tarvo::fuzz
