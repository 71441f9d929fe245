// What the server knows of a document after assembling it, and the
// answers it gives from that: diagnostics, definitions, references,
// hover, completion, symbols.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/text.h"
#include "tarvo/tarvo.h"

namespace tarvo::lsp {

using Json = nlohmann::json;
using Text = std::shared_ptr<const std::string>;

// The client's settings ("tarvo": {...}).
struct Settings {
    Syntax syntax = Syntax::kDefault;
    std::vector<std::string> includeDirs;
    std::vector<std::pair<std::string, std::string>> defines;
    bool strict = false;
    bool classic = false;
};

// One assembly to make: a document as it is now, the open documents that
// stand in for files, and the settings.
struct Job {
    std::string uri, path;
    int version = 0;
    Text text;
    Syntax syntax = Syntax::kDefault;
    Settings settings;
    std::map<std::string, Text> open;          // by path
    std::map<std::string, std::string> uris;   // path -> URI of each open document
    bool readDisk = true;
};

struct Analysis {
    std::string uri, path;
    int version = 0;
    Syntax syntax = Syntax::kDefault;
    AssembleResult result;                    // its file names made normal paths
    std::map<std::string, Text> texts;        // every text read, by path (the document's own too)
    std::set<std::string> missing;            // paths asked for that could not be read
    std::map<std::string, std::string> uris;  // the open documents' URIs by path
};

std::shared_ptr<const Analysis> Analyze(const Job& job);

// The diagnostics of an assembly for each open document they concern.
std::map<std::string, std::vector<Json>> Diagnostics(const Analysis& a, Encoding encoding);

// Answers to requests at a position (0-based line, client's character).
Json Definition(const Analysis& a, int line, int character, Encoding encoding);
Json References(const Analysis& a, int line, int character, bool withDefinition, Encoding encoding);
Json Hover(const Analysis& a, int line, int character, Encoding encoding);
Json Completion(const Analysis* a, Syntax syntax);
Json Symbols(const Analysis& a, Encoding encoding);

// Reads a regular file of at most limit bytes; nothing for anything else.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit);

}  // namespace tarvo::lsp
