// The one writer of the object stream. It owns the location counter and the
// room of fields whose values are not known yet: bytes from the first such
// field on are held in memory until it is filled, so every output (a file,
// a pipe, standard output between messages) receives final bytes in order.
// A patch starts from an image's bytes instead of from nothing: the bytes
// then go into that image, at locations that may jump, and the image is
// written out at the end.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <utility>
#include <vector>

namespace tarvo {

// The image is loaded at kImageBase, and addresses carry it ORed in, so
// image locations reach up to kImageSize.
inline constexpr std::uint32_t kImageBase = 0x07000000;
inline constexpr std::uint32_t kImageSize = 0x1000000;
// An address written with the image base or without: its image location.
constexpr std::uint32_t ImageLocation(std::uint32_t address) {
    return (address & 0xFF000000u) == kImageBase ? address - kImageBase : address;
}

// Hears every byte once it is final, in the order written (the listing).
// emitted counts the bytes written before p: the location, unless a patch
// moved it.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Final(std::uint32_t emitted, const std::uint8_t* p, std::size_t n) = 0;
};

class ObjectWriter {
public:
    // A reserved field: where it lies, so that a patch reads nothing of the
    // writer's but a flag, and its place in the order of reservation.
    struct RefId {
        std::uint64_t serial = 0;
        std::uint32_t location = 0;  // the field's place in the order written (see Emitted)
        std::uint8_t length = 0;
    };

    void Open(std::FILE* f) { f_ = f; }
    std::FILE* file() const { return f_; }
    void SetSink(ByteSink* sink) { sink_ = sink; }

    // The image offset of the next byte; it wraps rather than overflow.
    std::int32_t Location() const { return static_cast<std::int32_t>(pc_); }
    // The bytes written so far: the location, unless a patch moved it.
    std::uint32_t Emitted() const { return pc_ - shift_; }

    // The address of the next byte as the running code sees it: the image
    // base with the location, or, after SetBase, that address plus the
    // distance from there. Labels, '.', @ targets and link addresses use it.
    std::uint32_t Address() const { return based_ ? baseAddress_ + (pc_ - baseLocation_) : pc_ | kImageBase; }
    bool Based() const { return based_; }
    void SetBase(std::uint32_t address) {
        based_ = true;
        baseAddress_ = address;
        baseLocation_ = pc_;
    }

    // Patch mode: the object is image with the bytes written over it (a
    // gap past its end is 0xFF), written out by Finish.
    void StartFrom(std::vector<std::uint8_t> image) {
        patch_ = true;
        image_ = std::move(image);
    }
    bool Patching() const { return patch_; }
    // Patch mode: the next byte goes to location; nothing is written.
    void Seek(std::uint32_t location);

    void Emit(const std::uint8_t* p, std::size_t n) {
        if (done_.empty()) {
            // Byte by byte through stdio: with -s the bytes share standard
            // output with the messages and must keep their order.
            if (patch_) Put(pc_, p, n);
            else for (std::size_t i = 0; i < n; ++i) putc_unlocked(p[i], f_);
            if (sink_ != nullptr) sink_->Final(pc_ - shift_, p, n);
        } else {
            held_.insert(held_.end(), p, p + n);
        }
        pc_ += static_cast<std::uint32_t>(n);
    }
    void EmitFill(std::uint32_t count, std::uint8_t byte);
    // count items of size bytes each (size divides 4096).
    void EmitRepeat(std::uint32_t count, const std::uint8_t* item, std::size_t size);

    // Writes provisional bytes whose final values come with Patch; until
    // then they and everything after them are held.
    RefId Reserve(const std::uint8_t* p, std::size_t n);
    void Patch(const RefId& id, const std::uint8_t* p);

    // Writes out everything held, open fields as they stand (a patch: the
    // whole image).
    void Finish();

    bool Holding() const { return !done_.empty(); }
    // Bytes held now, for tests of the memory bound.
    std::size_t HeldBytes() const { return held_.size() - heldStart_; }

private:
    void Release();
    // Writes bytes out: to the file, or (a patch) into the image at location.
    void Out(std::uint32_t location, const std::uint8_t* p, std::size_t n) {
        if (patch_) Put(location, p, n);
        else fwrite_unlocked(p, 1, n, f_);
    }
    void Put(std::uint32_t location, const std::uint8_t* p, std::size_t n);

    std::FILE* f_ = nullptr;
    ByteSink* sink_ = nullptr;
    std::uint32_t pc_ = 0;             // the location
    std::uint32_t shift_ = 0;          // the location less the bytes written; a patch's Seek moves it
    bool patch_ = false;
    std::vector<std::uint8_t> image_;  // a patch's object
    // Held bytes go out at their own locations: the shift at the first held
    // byte, and where it changes later (the bytes written then, and the new shift).
    std::uint32_t heldShift_ = 0;
    std::deque<std::pair<std::uint32_t, std::uint32_t>> seeks_;
    bool based_ = false;
    std::uint32_t baseAddress_ = 0, baseLocation_ = 0;
    std::uint32_t heldBase_ = 0;       // image offset of held_[heldStart_]
    std::size_t heldStart_ = 0;        // bytes before it are written already
    std::vector<std::uint8_t> held_;
    // The fields from the oldest open one on, in reserve order (so offsets
    // rise): whether each is filled, apart from where they lie, since
    // fills come in any order and the flags should stay in the caches.
    std::deque<bool> done_;
    std::deque<std::uint32_t> locations_;
    std::uint64_t firstRef_ = 0;       // serial of done_.front()
    std::uint64_t nextRef_ = 0;
};

}  // namespace tarvo
