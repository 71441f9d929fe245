// For a listing in which code can move (-d --source --relocatable): the
// values of a span that are addresses of its listed items, so that they
// can be written as label expressions.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tarvo {

// A value written as a label expression: the label's place in the span,
// and how far past it the value lies (inside an instruction).
struct Ref {
    std::size_t at = 0;
    std::uint32_t offset = 0;
};

// What the lister knows of the span: its bytes, the kind of each
// (SpanKind), where it starts and the address of the image's first byte,
// and the listed branches and jumps with a displacement.
struct SpanFacts {
    const std::vector<std::uint8_t>& span;
    std::vector<std::uint8_t>& kind;
    std::uint32_t start, base;
    const std::vector<std::size_t>& transfers;
};

// A movhi and the instruction that adds the low half, branch targets and
// data words: by the position of each instruction or word that holds such
// a value, its label expression. Marks a label (SpanKind::kLabel) at every
// item they name and the data words listed as dw. (SpanKind::kWord).
std::unordered_map<std::size_t, Ref> FindReferences(const SpanFacts& facts);

}  // namespace tarvo
