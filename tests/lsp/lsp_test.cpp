// tarvo --lsp through its protocol: a scripted session, documents that
// include each other, the settings, and hostile input.
#include <gtest/gtest.h>

#include <string>

#include "../cli/run_tool.h"
#include "client.h"

namespace tarvo::test {
namespace {

Json Range(int line, int start, int endLine, int end) {
    return {{"start", {{"line", line}, {"character", start}}}, {"end", {{"line", endLine}, {"character", end}}}};
}

Json Position(const std::string& uri, int line, int character) {
    return {{"textDocument", {{"uri", uri}}}, {"position", {{"line", line}, {"character", character}}}};
}

Json Opened(const std::string& uri, const std::string& languageId, const std::string& text, int version = 1) {
    return {{"textDocument", {{"uri", uri}, {"languageId", languageId}, {"version", version}, {"text", text}}}};
}

std::string Uri(const ScratchDir& dir, const std::string& name) { return "file://" + (dir / name).string(); }

bool HasItem(const Json& items, const std::string& label, int kind) {
    for (const Json& item : items)
        if (item["label"] == label && item["kind"] == kind) return true;
    return false;
}

void Initialize(Client& client, const ScratchDir& dir, Json options = Json::object()) {
    const Json answer = client.Call("initialize", {{"processId", nullptr},
                                                   {"rootUri", "file://" + dir.path().string()},
                                                   {"capabilities", Json::object()},
                                                   {"initializationOptions", std::move(options)}});
    ASSERT_TRUE(answer.contains("result")) << answer;
    client.Notify("initialized", Json::object());
}

// The default language: a name, a label, an error; then edits, and every
// request once.
constexpr const char* kMain =
    "df. WRAM 0x05000000\n"
    "start:\n"
    "        mov $1, $2\n"
    "        movw 5, $3\n"
    "        jr @start\n";

TEST(LspSession, Scripted) {
    ScratchDir dir;
    Client client(dir.path());
    const Json init = client.Call("initialize", {{"processId", nullptr},
                                                 {"rootUri", "file://" + dir.path().string()},
                                                 {"capabilities", Json::object()}});
    const Json& caps = init["result"]["capabilities"];
    EXPECT_EQ(caps["textDocumentSync"]["change"], 2);
    EXPECT_EQ(caps["textDocumentSync"]["openClose"], true);
    EXPECT_TRUE(caps["textDocumentSync"].contains("save"));
    EXPECT_EQ(caps["positionEncoding"], "utf-16");
    for (const char* provider : {"definitionProvider", "referencesProvider", "hoverProvider", "documentSymbolProvider"})
        EXPECT_EQ(caps[provider], true) << provider;
    EXPECT_TRUE(caps["completionProvider"].is_object());
    EXPECT_EQ(init["result"]["serverInfo"]["name"], "tarvo");
    client.Notify("initialized", Json::object());

    const std::string uri = Uri(dir, "main.s");
    client.Notify("textDocument/didOpen", Opened(uri, "v810", kMain));
    Json d = client.Diagnostics(uri, 1);
    ASSERT_EQ(d["diagnostics"].size(), 1u) << d;
    EXPECT_EQ(d["diagnostics"][0]["range"], Range(3, 8, 3, 12));
    EXPECT_EQ(d["diagnostics"][0]["severity"], 1);
    EXPECT_EQ(d["diagnostics"][0]["message"], "Invalid Opcode (movw)");

    // An incremental change mends it; a full text brings an error back.
    client.Notify("textDocument/didChange",
                  {{"textDocument", {{"uri", uri}, {"version", 2}}},
                   {"contentChanges", {{{"range", Range(3, 8, 3, 12)}, {"text", "mov"}}}}});
    d = client.Diagnostics(uri, 2);
    EXPECT_EQ(d["diagnostics"], Json::array()) << d;
    client.Notify("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", 3}}},
                                             {"contentChanges", {{{"text", std::string(kMain) + "        movw 1, $1\n"}}}}});
    d = client.Diagnostics(uri, 3);
    ASSERT_EQ(d["diagnostics"].size(), 2u) << d;
    EXPECT_EQ(d["diagnostics"][1]["range"], Range(5, 8, 5, 12));
    EXPECT_EQ(d["diagnostics"][1]["message"], "Invalid Opcode (movw)");

    // "start" in "jr @start" leads to its label, and back.
    Json answer = client.Call("textDocument/definition", Position(uri, 4, 14));
    EXPECT_EQ(answer["result"], (Json{{"uri", uri}, {"range", Range(1, 0, 1, 5)}}));
    Json references = Position(uri, 1, 2);
    references["context"] = {{"includeDeclaration", true}};
    answer = client.Call("textDocument/references", references);
    EXPECT_EQ(answer["result"], (Json{{{"uri", uri}, {"range", Range(1, 0, 1, 5)}},
                                      {{"uri", uri}, {"range", Range(4, 12, 4, 17)}}}));

    // Hover: a name's value and where it is defined; an instruction's
    // address and bytes (mov $1, $2: 0x0041, low byte first).
    answer = client.Call("textDocument/hover", Position(uri, 0, 5));
    std::string text = answer["result"]["contents"]["value"];
    EXPECT_NE(text.find("0x05000000"), std::string::npos) << text;
    EXPECT_NE(text.find("line 1"), std::string::npos) << text;
    EXPECT_EQ(answer["result"]["range"], Range(0, 4, 0, 8));
    answer = client.Call("textDocument/hover", Position(uri, 2, 9));
    ASSERT_TRUE(answer["result"].is_object()) << answer;
    text = answer["result"]["contents"]["value"];
    EXPECT_NE(text.find("0x07000000`: 41 00"), std::string::npos) << text;

    // Completion: the language's words and the document's names.
    answer = client.Call("textDocument/completion", Position(uri, 2, 9));
    const Json& items = answer["result"]["items"];
    EXPECT_TRUE(HasItem(items, "movea", 14));     // a mnemonic
    EXPECT_TRUE(HasItem(items, "chcw", 6));       // a system register
    EXPECT_TRUE(HasItem(items, "macro.", 14));    // a directive
    EXPECT_TRUE(HasItem(items, "start", 18));     // a label
    EXPECT_TRUE(HasItem(items, "WRAM", 21));      // a name

    answer = client.Call("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}});
    ASSERT_EQ(answer["result"].size(), 2u) << answer;
    EXPECT_EQ(answer["result"][0]["name"], "WRAM");
    EXPECT_EQ(answer["result"][0]["selectionRange"], Range(0, 4, 0, 8));
    EXPECT_EQ(answer["result"][1]["name"], "start");
    EXPECT_EQ(answer["result"][1]["kind"], 12);

    // Lines end at a lone CR too, for the positions as for the assembler.
    const std::string cr = Uri(dir, "cr.s");
    client.Notify("textDocument/didOpen", Opened(cr, "v810", "\tnop\r\tmovw 5, $3\r"));
    d = client.Diagnostics(cr, 1);
    ASSERT_EQ(d["diagnostics"].size(), 1u) << d;
    EXPECT_EQ(d["diagnostics"][0]["range"], Range(1, 1, 1, 5));
    client.Notify("textDocument/didChange", {{"textDocument", {{"uri", cr}, {"version", 2}}},
                                             {"contentChanges", {{{"range", Range(1, 1, 1, 5)}, {"text", "mov"}}}}});
    EXPECT_EQ(client.Diagnostics(cr, 2)["diagnostics"], Json::array());

    client.Notify("textDocument/didClose", {{"textDocument", {{"uri", uri}}}});
    EXPECT_EQ(client.Diagnostics(uri)["diagnostics"], Json::array());
    EXPECT_EQ(client.Call("shutdown", nullptr)["result"], nullptr);
    EXPECT_EQ(client.Call("textDocument/hover", Position(uri, 0, 0))["error"]["code"], -32600);
    client.Notify("exit", nullptr);
    EXPECT_EQ(client.Finish(), 0);
}

// An open document stands in for the file it is: a main source includes an
// unsaved one, whose error shows in both.
TEST(LspSession, IncludedDocuments) {
    ScratchDir dir;
    dir.Write("lib.s", "; on the disk only\n        add 1, $4\n");
    Client client(dir.path());
    Initialize(client, dir);
    const std::string main = Uri(dir, "main.s"), defs = Uri(dir, "defs.inc");
    client.Notify("textDocument/didOpen", Opened(defs, "v810", "df. COUNT 3\n        movw 1, $1\n"));
    client.Diagnostics(defs, 1);
    client.Notify("textDocument/didOpen",
                  Opened(main, "v810", "inc. \"defs.inc\"\n        mov COUNT, $2\ninc. \"lib.s\"\n"));
    const Json d = client.Diagnostics(main, 1);
    ASSERT_EQ(d["diagnostics"].size(), 1u) << d;
    EXPECT_EQ(d["diagnostics"][0]["range"]["start"]["line"], 0);
    EXPECT_EQ(d["diagnostics"][0]["message"], "defs.inc:2: Invalid Opcode (movw)");
    // In the included document, at its own line.
    const Json shown = client.Diagnostics(defs);
    ASSERT_EQ(shown["diagnostics"].size(), 1u) << shown;
    EXPECT_EQ(shown["diagnostics"][0]["range"], Range(1, 8, 1, 12));
    // A name from the open include; the file name of an include.
    Json answer = client.Call("textDocument/definition", Position(main, 1, 13));
    EXPECT_EQ(answer["result"], (Json{{"uri", defs}, {"range", Range(0, 4, 0, 9)}}));
    answer = client.Call("textDocument/definition", Position(main, 2, 8));
    EXPECT_EQ(answer["result"]["uri"], Uri(dir, "lib.s")) << answer;
    // Mending the include mends the main source.
    client.Notify("textDocument/didChange", {{"textDocument", {{"uri", defs}, {"version", 2}}},
                                             {"contentChanges", {{{"text", "df. COUNT 3\n        nop\n"}}}}});
    EXPECT_EQ(client.Diagnostics(main)["diagnostics"], Json::array());
    // An include that is nowhere yet: opening it reruns the source that wants it.
    const std::string wants = Uri(dir, "wants.s"), later = Uri(dir, "later.s");
    client.Notify("textDocument/didOpen", Opened(wants, "v810", "inc. \"later.s\"\n        jr @there\n"));
    EXPECT_EQ(client.Diagnostics(wants, 1)["diagnostics"].size(), 2u);
    client.Notify("textDocument/didOpen", Opened(later, "v810", "there:\n        nop\n"));
    EXPECT_EQ(client.Diagnostics(wants)["diagnostics"], Json::array());
}

// The language: languageId first, else the setting; settings change.
TEST(LspSession, Settings) {
    ScratchDir dir;
    Client client(dir.path());
    Initialize(client, dir, {{"tarvo", {{"syntax", "gnu"}, {"defines", {{"LIMIT", "3"}}}}}});
    const std::string uri = Uri(dir, "a.s");
    // GNU syntax from the setting: r1 and a .word are fine, LIMIT is defined.
    client.Notify("textDocument/didOpen", Opened(uri, "asm", "\tmov r1, r2\n\t.word LIMIT\n\tmovw 5, r3\n"));
    Json d = client.Diagnostics(uri, 1);
    ASSERT_EQ(d["diagnostics"].size(), 1u) << d;
    EXPECT_EQ(d["diagnostics"][0]["range"]["start"]["line"], 2);
    // The default language now: .word is no directive of it.
    client.Notify("workspace/didChangeConfiguration", {{"settings", {{"tarvo", {{"syntax", "default"}}}}}});
    d = client.Diagnostics(uri, 1);
    ASSERT_EQ(d["diagnostics"].size(), 2u) << d;
    EXPECT_EQ(d["diagnostics"][0]["message"], "Invalid Opcode (.word)");
    // A languageId wins over the setting.
    const std::string gnu = Uri(dir, "b.s");
    client.Notify("textDocument/didOpen", Opened(gnu, "v810-gnu", "\tmov r1, r2\n"));
    EXPECT_EQ(client.Diagnostics(gnu, 1)["diagnostics"], Json::array());
    const Json answer = client.Call("textDocument/completion", Position(gnu, 0, 1));
    EXPECT_TRUE(HasItem(answer["result"]["items"], ".balign", 14));
}

TEST(LspSession, RequestBeforeInitialize) {
    ScratchDir dir;
    Client client(dir.path());
    EXPECT_EQ(client.Call("textDocument/hover", Position("file:///a.s", 0, 0))["error"]["code"], -32002);
    client.Notify("exit", nullptr);
    EXPECT_EQ(client.Finish(), 1);  // no shutdown first
}

// Hostile input: each row is sent after initialize, gets its answer (an
// error with this code, or none for a notification), and the server goes on.
struct HostileRow {
    const char* name;
    std::string (*bytes)();  // made when the row runs: some are large
    int code;                // 0: no answer
};

void PrintTo(const HostileRow& row, std::ostream* os) { *os << row.name; }

std::string Framed(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

class LspHostile : public ::testing::TestWithParam<HostileRow> {};

TEST_P(LspHostile, AnswersAndGoesOn) {
    ScratchDir dir;
    Client client(dir.path());
    Initialize(client, dir);
    client.SendRaw(GetParam().bytes());
    if (GetParam().code != 0) {
        const Json answer = client.NextAnswer();
        EXPECT_EQ(answer["error"]["code"], GetParam().code) << answer;
    }
    // Still there, and the next answer is to the next request.
    const Json after = client.Call("textDocument/documentSymbol", {{"textDocument", {{"uri", "file:///none.s"}}}});
    EXPECT_EQ(after["result"], Json::array()) << after;
    EXPECT_EQ(client.Call("shutdown", nullptr)["result"], nullptr);
    client.Notify("exit", nullptr);
    EXPECT_EQ(client.Finish(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LspHostile,
    ::testing::Values(
        HostileRow{"BrokenJson", [] { return Framed(R"({"jsonrpc": "2.0", "id": 1,)"); }, -32700},
        HostileRow{"NotAnObject", [] { return Framed("[1, 2]"); }, -32600},
        HostileRow{"IdOfAWrongType",
                   [] { return Framed(R"({"jsonrpc":"2.0","id":{"a":1},"method":"shutdown"})"); }, -32600},
        HostileRow{"UnknownMethod",
                   [] { return Framed(R"({"jsonrpc":"2.0","id":7,"method":"textDocument/rename","params":{}})"); },
                   -32601},
        HostileRow{"ParamsOfAWrongType",
                   [] {
                       return Framed(
                           R"({"jsonrpc":"2.0","id":8,"method":"textDocument/hover","params":{"textDocument":5,"position":"x"}})");
                   },
                   -32602},
        HostileRow{"NotificationOfAWrongType",
                   [] {
                       return Framed(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":3}}})");
                   },
                   0},
        HostileRow{"LengthNotANumber", [] { return std::string("Content-Length: ten\r\n\r\n"); }, -32700},
        HostileRow{"NoLength", [] { return std::string("Content-Type: x\r\n\r\n"); }, -32700},
        HostileRow{"JunkBeforeAHeader",
                   [] { return "\x01\x02garbage" + Framed(R"({"jsonrpc":"2.0","method":"foo"})"); }, -32700},
        HostileRow{"OverSixtyFourMiB",
                   [] { return "Content-Length: 67108865\r\n\r\n" + std::string(67108865, '{'); }, -32600},
        HostileRow{"BinaryDocument",
                   [] { return Framed(Opened("file:///bin.s", "v810", std::string("\0\x01\xc3\xa9\x7f\n\t,,[[", 11)).dump()); },
                   0},
        HostileRow{"HugeLine",
                   [] { return Framed(Opened("file:///huge.s", "v810", std::string(4 << 20, 'x')).dump()); }, 0}),
    [](const ::testing::TestParamInfo<HostileRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvo::test
