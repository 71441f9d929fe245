// Command-line behaviour that needs more than a source file: options, file
// creation rules, standard output as the object stream, and refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "run_tool.h"

namespace tarvo::test {
namespace {

struct UsageRow {
    const char* name;
    std::vector<std::string> args;
};

class UsageTest : public testing::TestWithParam<UsageRow> {};

TEST_P(UsageTest, ShowsUsageCreatesNothingExits2) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    ToolResult r = RunTool(dir.path(), GetParam().args);
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(dir.Exists("output.obj"));
    EXPECT_FALSE(dir.Exists("output.asm"));
}

INSTANTIATE_TEST_SUITE_P(Rows, UsageTest, testing::Values(
    UsageRow{"NoArgument", {}},
    UsageRow{"OWithoutFile", {"prog.s", "-o"}},
    UsageRow{"UpperCaseOption", {"prog.s", "-S"}},
    UsageRow{"UnknownOption", {"prog.s", "-x"}},
    UsageRow{"OneCharacterOption", {"prog.s", "s"}},
    UsageRow{"EmptyOption", {"prog.s", ""}}),
    [](const auto& info) { return info.param.name; });

TEST(CliTest, MissingSourceCreatesNothing) {
    ScratchDir dir;
    ToolResult r = RunTool(dir.path(), {"missing.s"});
    EXPECT_EQ(r.out, kBanner + "Cannot open missing.s for read.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.Exists("output.obj"));
}

TEST(CliTest, OutputFileNamedByO) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    // The classic reading drops what follows the classic positions.
    ToolResult r = RunTool(dir.path(), {"--classic", "prog.s", "-o", "out.bin", "extra"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("prog.s", 0, 2));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.bin"), HexToBytes("00 9A"));
    EXPECT_FALSE(dir.Exists("output.obj"));
}

TEST(CliTest, SourcePathIsReportedAsWritten) {
    ScratchDir dir;
    dir.Write("sub/prog.s", "nop\n");
    ToolResult r = RunTool(dir.path(), {"./sub//prog.s"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("./sub//prog.s", 0, 2));
}

TEST(CliTest, ObjectToAPipeInterleavesBytesAndMessages) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\nlb. x\nfoo\nhalt\n");
    for (const char* option : {"-s", "xs", "/s"}) {
        ToolResult r = RunTool(dir.path(), {"prog.s", option});
        EXPECT_EQ(r.out, kBanner + HexToBytes("00 9A") + "Label: x = 0x07000002\n" +
                             "Error in line 3: Invalid Opcode (foo)\n" + HexToBytes("01 68") +
                             "Pass: 0 (Too many errors)\n" + Report("prog.s", 1, -1))
            << option;
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_FALSE(dir.Exists("output.obj"));
}

TEST(CliTest, ObjectToARegularStdoutCountsEverythingBeforeTheReport) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\nlb. x\nhalt\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-s"}, "captured");
    const std::string before = kBanner + HexToBytes("00 9A") + "Label: x = 0x07000002\n" + HexToBytes("01 68") + kClean;
    EXPECT_EQ(dir.Read("captured"), before + Report("prog.s", 0, static_cast<long>(before.size())));
    EXPECT_EQ(r.status, 0);
}

TEST(CliTest, ObjectFileThatCannotBeCreated) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    std::filesystem::create_directory(dir / "output.obj");
    ToolResult r = RunTool(dir.path(), {"prog.s"});
    EXPECT_EQ(r.out, kBanner + "Cannot open output.obj for write.\n");
    EXPECT_EQ(r.status, 1);
    r = RunTool(dir.path(), {"prog.s", "-o", "no/such/dir/out.bin"});
    EXPECT_EQ(r.out, kBanner + "Cannot open no/such/dir/out.bin for write.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, ListingThatCannotBeCreated) {
    ScratchDir dir;
    dir.Write("rom.bin", "AB");
    std::filesystem::create_directory(dir / "output.asm");
    ToolResult r = RunTool(dir.path(), {"rom.bin", "-d"});
    EXPECT_EQ(r.out, kBanner + "Cannot open output.asm for write.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, NeverWritesOverTheSource) {
    ScratchDir dir;
    const std::string source = "nop\n";
    dir.Write("prog.s", source);
    ToolResult r = RunTool(dir.path(), {"prog.s", "-o", "./prog.s"});
    EXPECT_EQ(r.out, kBanner + "Cannot write ./prog.s over the source file.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.Read("prog.s"), source);

    dir.Write("output.obj", source);
    r = RunTool(dir.path(), {"output.obj"});
    EXPECT_EQ(r.out, kBanner + "Cannot write output.obj over the source file.\n");
    EXPECT_EQ(dir.Read("output.obj"), source);

    std::filesystem::create_hard_link(dir / "prog.s", dir / "other.bin");
    r = RunTool(dir.path(), {"prog.s", "-o", "other.bin"});
    EXPECT_EQ(r.out, kBanner + "Cannot write other.bin over the source file.\n");
    EXPECT_EQ(dir.Read("prog.s"), source);

    dir.Write("output.asm", "image");
    r = RunTool(dir.path(), {"output.asm", "-d"});
    EXPECT_EQ(r.out, kBanner + "Cannot write output.asm over the source file.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.Read("output.asm"), "image");
}

// No output replaces a file the run reads, however it is named, nor another
// output: the output is refused with a counted message and the run goes on
// (over the source, nothing is read at all); no new file is left behind.
struct OverInput {
    const char* name;
    std::vector<std::string> args;
    std::string message;  // a line of standard output
    bool read;            // whether the run went on to read the source
};

TEST(CliTest, NoOutputReplacesAnInputOrAnotherOutput) {
    auto refused = [](const std::string& name) { return "\nCannot write " + name + " over the source file.\n"; };
    const OverInput rows[] = {
        {"listing over the source", {"prog.s", "--listing=./prog.s"}, refused("./prog.s"), false},
        {"object over an include", {"prog.s", "-o", "./inc.s"}, refused("./inc.s"), true},
        {"symbols through a link", {"prog.s", "--symbols=link.s"}, refused("link.s"), true},
        {"deps through a hard link", {"prog.s", "--deps=sub/../hard.s"}, refused("sub/../hard.s"), true},
        {"two outputs, one name", {"prog.s", "-o", "out.bin", "--listing=./out.bin"}, refused("./out.bin"), true},
        {"-d output over its symbol file", {"rom.bin", "-d", "--source", "--symbols=n.sym", "--output=n.sym"},
         refused("n.sym"), true},
    };
    for (const OverInput& row : rows) {
        ScratchDir dir;
        dir.Write("prog.s", "lb. x\ninc. \"inc.s\"\n");
        dir.Write("inc.s", "nop\n");
        dir.Write("rom.bin", HexToBytes("00 9A"));
        dir.Write("n.sym", "07000000 x\n");
        std::filesystem::create_directory(dir / "sub");
        std::filesystem::create_symlink("inc.s", dir / "link.s");
        std::filesystem::create_hard_link(dir / "inc.s", dir / "hard.s");
        const auto before = std::distance(std::filesystem::directory_iterator(dir.path()), {});
        ToolResult r = RunTool(dir.path(), row.args);
        EXPECT_EQ(r.status, 1) << row.name;
        EXPECT_NE(r.out.find(row.message), std::string::npos) << row.name << "\n" << r.out;
        EXPECT_EQ(r.out.find("Label:") != std::string::npos || r.out.find("Reading") != std::string::npos, row.read)
            << row.name;
        EXPECT_EQ(dir.Read("prog.s"), "lb. x\ninc. \"inc.s\"\n") << row.name;
        EXPECT_EQ(dir.Read("inc.s"), "nop\n") << row.name;
        EXPECT_EQ(dir.Read("n.sym"), "07000000 x\n") << row.name;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.s")) << row.name;
        // Only the outputs that were not refused are new.
        const auto after = std::distance(std::filesystem::directory_iterator(dir.path()), {});
        EXPECT_EQ(after - before, dir.Exists("out.bin") ? 1 : dir.Exists("output.obj") ? 1 : 0) << row.name;
    }
}

// A failed run under --strict leaves no object file, not even an older one;
// a write through a link keeps the link.
TEST(CliTest, StrictFailureRemovesTheObjectThroughItsLink) {
    ScratchDir dir;
    dir.Write("prog.s", "mov 99, r1\n");
    std::filesystem::create_symlink("real.bin", dir / "out.bin");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-o", "out.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "out.bin"));
    EXPECT_EQ(dir.Read("real.bin"), HexToBytes("23 40"));
    r = RunTool(dir.path(), {"--strict", "prog.s", "-o", "out.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(Report("prog.s", 1, 2) + "Object file removed.\n")) << r.out;
    EXPECT_FALSE(dir.Exists("real.bin"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "out.bin"));
}

TEST(CliTest, WriteErrorsAreReported) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-o", "/dev/full"});
    // Nothing reached the device, so its position, the "# Bytes" figure, stays 0.
    EXPECT_EQ(r.out, kBanner + "Cannot write /dev/full.\nPass: 1 (OBJ file created)\n" + Report("prog.s", 1, 0));
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, ListingWriteErrorsAreReported) {
    ScratchDir dir;
    dir.Write("rom.bin", HexToBytes("41 00"));
    std::filesystem::create_symlink("/dev/full", dir / "output.asm");
    ToolResult r = RunTool(dir.path(), {"rom.bin", "-d"});
    EXPECT_EQ(r.out, kBanner +
                         "Dissasm Information\n\tInitial Address: 0x00000000\n\t# Bytes to dissasm: 8192\n"
                         "Start Reading...\nFinish Reading...\nCannot write output.asm.\nErrors in dissasembler.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, StandardOutputWriteErrorsFailTheRun) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-s"}, "/dev/full");
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, DirectoryAsSourceIsAReadError) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "src.d");
    ToolResult r = RunTool(dir.path(), {"src.d"});
    EXPECT_EQ(r.out, kBanner + "Cannot read src.d.\nPass: 1 (OBJ file created)\n" + Report("src.d", 1, 0) + kRemoved);
    EXPECT_EQ(r.status, 1);

    dir.Write("prog.s", "nop\ninc. \"src.d\"\nnop\n");
    r = RunTool(dir.path(), {"prog.s"});
    EXPECT_EQ(r.out, kBanner + "Starting recursion with src.d .Cannot read src.d.\n... Pass(Ok)\n" +
                         "Pass: 1 (OBJ file created)\n" + Report("prog.s", 1, 4) + kRemoved);
    EXPECT_EQ(r.status, 1);

    r = RunTool(dir.path(), {"src.d", "-d"});
    EXPECT_EQ(r.out, kBanner +
                         "Dissasm Information\n\tInitial Address: 0x00000000\n\t# Bytes to dissasm: 8192\n"
                         "Start Reading...\nCannot read src.d.\nFinish Reading...\nErrors in dissasembler.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(CliTest, DevNullIsAnEmptySource) {
    ScratchDir dir;
    ToolResult r = RunTool(dir.path(), {"/dev/null"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("/dev/null", 0, 0));
    EXPECT_EQ(r.status, 0);
}

TEST(CliTest, IncludeOfTheObjectFileIsRefused) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\ninc. \"out.bin\"\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-o", "out.bin"});
    EXPECT_EQ(r.out, kBanner + "Error at 00000002: Cannot open \"out.bin\" file.\nPass: 1 (OBJ file created)\n" +
                         Report("prog.s", 1, 2) + kRemoved);
}

TEST(CliTest, ImageThroughAPipe) {
    ScratchDir dir;
    dir.Write("rom.bin", HexToBytes("41 00 1F 18 01 68"));
    mkfifo((dir / "pipe").c_str(), 0600);
    pid_t writer = fork();
    if (writer == 0) {  // feeds the pipe, as a shell's process substitution would
        std::FILE* in = std::fopen((dir / "rom.bin").c_str(), "rb");
        std::FILE* out = std::fopen((dir / "pipe").c_str(), "wb");
        for (int c; (c = std::fgetc(in)) != EOF;) std::fputc(c, out);
        std::fclose(out);
        _exit(0);
    }
    ToolResult r = RunTool(dir.path(), {"pipe", "-d", "2"});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("output.asm"), "\n0x00000002\tjmp\t[$31]\n0x00000004\thalt");
}

TEST(CliTest, IncludeOfARedirectedStandardOutputIsRefused) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\ninc. \"captured\"\ninc. \"/dev/null\"\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-s"}, "captured");
    EXPECT_EQ(r.status, 1);
    const std::string before = kBanner + HexToBytes("00 9A") + "Error at 00000002: Cannot open \"captured\" file.\n" +
                               "Starting recursion with /dev/null .... Pass(Ok)\nPass: 1 (OBJ file created)\n";
    EXPECT_EQ(dir.Read("captured"), before + Report("prog.s", 1, static_cast<long>(before.size())));
}

TEST(CliTest, DisassemblyArgumentsAtThe32BitLimits) {
    ScratchDir dir;
    dir.Write("rom.bin", HexToBytes("41 00 41 00"));
    ToolResult r = RunTool(dir.path(), {"rom.bin", "-d", "0", "0x7FFFFFFF"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("output.asm"), "\n0x00000000\tmov\t$1, $2\n0x00000002\tmov\t$1, $2");
    r = RunTool(dir.path(), {"rom.bin", "-d", "0x7FFFFFFF", "0x7FFFFFFF"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("output.asm"), "");
    r = RunTool(dir.path(), {"rom.bin", "-d", "0xFFFFFFFF", "4294967300"});  // wraps to -1 and 4
    EXPECT_NE(r.out.find("Initial Address: 0xffffffff\n\t# Bytes to dissasm: 4\n"), std::string::npos);
    EXPECT_EQ(dir.Read("output.asm"), "");
    r = RunTool(dir.path(), {"rom.bin", "-d", "\f", " "});  // white space only keeps the defaults
    EXPECT_NE(r.out.find("Initial Address: 0x00000000\n\t# Bytes to dissasm: 8192\n"), std::string::npos);
}

// Long options: where they may stand, what ends them, and the usage errors.
struct LongRow {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // after the banner
    int status;
    bool objectWritten;
};

class LongOptionTest : public testing::TestWithParam<LongRow> {};

TEST_P(LongOptionTest, ParsesBeforeTheClassicArguments) {
    ScratchDir dir;
    dir.Write("prog.s", "nop\n");
    dir.Write("--odd.s", "nop\n");
    const LongRow& row = GetParam();
    ToolResult r = RunTool(dir.path(), row.args);
    EXPECT_EQ(r.out, row.name == std::string("Version") ? row.out : kBanner + row.out);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(dir.Exists("out.bin"), row.objectWritten);
}

const std::string kAssembled = kClean + Report("prog.s", 0, 2);

INSTANTIATE_TEST_SUITE_P(Rows, LongOptionTest, testing::Values(
    LongRow{"Version", {"--version"}, "tarvo " TARVO_VERSION "\n", 0, false},
    LongRow{"Unknown", {"prog.s", "--bogus"}, "Unknown option --bogus.\n" + kUsage, 2, false},
    LongRow{"FlagWithValue", {"--strict=1", "prog.s"}, "Unknown option --strict=1.\n" + kUsage, 2, false},
    LongRow{"MissingValue", {"prog.s", "--include-dir"}, "Option --include-dir needs a value.\n" + kUsage, 2, false},
    LongRow{"BetweenClassicArguments", {"prog.s", "-o", "--quiet", "out.bin"}, kAssembled, 0, true},
    LongRow{"ValueAsNextArgument", {"--include-dir", "x", "prog.s", "-o", "out.bin"}, kAssembled, 0, true},
    LongRow{"DoubleDashEnds", {"--", "--odd.s", "-o", "out.bin"},
            kClean + Report("--odd.s", 0, 2), 0, true}),
    [](const auto& info) { return info.param.name; });

// After the classic positions only options may stand (outside --classic,
// which keeps ignoring what follows them); -D, -I and -Z anywhere after the
// source name.
INSTANTIATE_TEST_SUITE_P(CommandLine, LongOptionTest, testing::Values(
    LongRow{"ExtraArgument", {"prog.s", "-o", "out.bin", "extra"}, "Unknown argument extra.\n" + kUsage, 2, false},
    LongRow{"ExtraOption", {"prog.s", "-o", "out.bin", "-q"}, "Unknown option -q.\n" + kUsage, 2, false},
    LongRow{"AfterStdout", {"prog.s", "-s", "x"}, "Unknown argument x.\n" + kUsage, 2, false},
    LongRow{"ThirdNumberOfD", {"prog.s", "-d", "0", "2", "3"}, "Unknown argument 3.\n" + kUsage, 2, false},
    LongRow{"ClassicIgnoresThem", {"--classic", "prog.s", "-o", "out.bin", "extra", "-q"}, kAssembled, 0, true},
    LongRow{"ShortOptionsFirst", {"prog.s", "-Z", "-DX", "-I", "inc", "-o", "out.bin"}, "Define: X = 1\n" + kAssembled, 0, true},
    LongRow{"DWithoutName", {"prog.s", "-o", "out.bin", "-D"}, "Option -D needs a value.\n" + kUsage, 2, false},
    LongRow{"IWithoutDir", {"prog.s", "-I"}, "Option -I needs a value.\n" + kUsage, 2, false},
    LongRow{"DepsToStdoutWithoutTarget", {"prog.s", "-s", "--deps=out.d"},
            "Option --deps needs --deps-target with -s.\n" + kUsage, 2, false},
    LongRow{"FileOfOIsAFile", {"prog.s", "-o", "-Z"}, kClean + Report("prog.s", 0, 2), 0, false}),
    [](const auto& info) { return info.param.name; });

// Link mode's options: GNU syntax only, --gap-fill a byte and only where
// there is a link, -T with its file, and no disassembly of several files.
INSTANTIATE_TEST_SUITE_P(LinkMode, LongOptionTest, testing::Values(
    LongRow{"GapFillNotAByte", {"--syntax=gnu", "prog.s", "prog.s", "--gap-fill=256", "-o", "out.bin"},
            "Option --gap-fill=256 needs a byte value (0 to 255).\n" + kUsage, 2, false},
    LongRow{"GapFillWithoutLink", {"--syntax=gnu", "prog.s", "--gap-fill=0xff", "-o", "out.bin"},
            "Option --gap-fill needs link mode (two or more sources, -T or --link).\n" + kUsage, 2, false},
    LongRow{"LinkNeedsGnu", {"--link", "prog.s", "-o", "out.bin"}, "Option --link needs --syntax=gnu.\n" + kUsage, 2, false},
    LongRow{"ScriptNeedsGnu", {"prog.s", "--script=a.ld"}, "Option --script needs --syntax=gnu.\n" + kUsage, 2, false},
    LongRow{"TWithoutFile", {"--syntax=gnu", "prog.s", "-T"}, "Option -T needs a value.\n" + kUsage, 2, false},
    LongRow{"NoDisassemblyOfALink", {"--syntax=gnu", "prog.s", "prog.s", "-d", "0"},
            "Link mode makes an image; -d takes one file.\n" + kUsage, 2, false}),
    [](const auto& info) { return info.param.name; });

// The sources and the script of a link may stand anywhere after the first
// source; --define is GNU as' --defsym (every unit sees it, .ifdef too),
// --defsym GNU ld's (a value of the link).
TEST(CliTest, LinkModeTakesSourcesAndScriptAnywhere) {
    ScratchDir dir;
    dir.Write("a.s", ".ifdef LD\n.word 1\n.endif\n.word UNIT, LD\n");
    dir.Write("b.s", ".ifdef UNIT\n.word UNIT\n.endif\n");
    dir.Write("s.ld", "SECTIONS { .text 0x100 : { *(.text) } }\n");
    const std::string image = HexToBytes("07 00 00 00  09 00 00 00  07 00 00 00");
    ToolResult r = RunTool(dir.path(), {"--syntax=gnu", "a.s", "-o", "out.bin", "b.s", "-Ts.ld", "--define=UNIT=7",
                                        "--defsym=LD=9"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.bin"), image);
    r = RunTool(dir.path(), {"--syntax=gnu", "--script", "s.ld", "a.s", "-s", "--defsym", "LD=9", "b.s", "--define", "UNIT=7"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, image);
}

TEST(CliTest, DefinesAndIncludeFoldersInCommandLineOrder) {
    ScratchDir dir;
    dir.Write("prog.s", "inc. \"lib.s\"\ndw. (A), (B), (C), (D), (E)\n");
    dir.Write("one/lib.s", "df. E 5\n");
    dir.Write("two/lib.s", "df. E 6\n");
    ToolResult r = RunTool(dir.path(), {"prog.s", "-DA=1", "-D", "B=2", "-o", "out.bin", "-Ione", "--define=C", "-D", "D",
                                        "--include-dir=two"});
    EXPECT_EQ(r.out, kBanner + "Define: A = 1\nDefine: B = 2\nDefine: C = 1\nDefine: D = 1\n" +
                         "Starting recursion with lib.s .Define: E = 5\n... Pass(Ok)\n" + kClean + Report("prog.s", 0, 20));
    EXPECT_EQ(dir.Read("out.bin"), HexToBytes("01 00 00 00  02 00 00 00  01 00 00 00  01 00 00 00  05 00 00 00"));
    r = RunTool(dir.path(), {"prog.s", "--quiet", "--include-dir=two", "-I", "one", "-o", "out.bin", "-DA", "-DB", "-DC", "-DD"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.bin").substr(16), HexToBytes("06 00 00 00"));
}

// make after a failed run: no object file is left to look fresh, so the
// next make runs the assembler again instead of saying "up to date".
TEST(CliTest, MakeRebuildsAfterAFailedRun) {
    if (std::system("command -v make >/dev/null 2>&1") != 0) GTEST_SKIP() << "no make";
    ScratchDir dir;
    dir.Write("Makefile", std::string("game.vb: game.s\n\t") + TARVO_BIN + " --quiet game.s -o game.vb\n");
    const std::string make = "cd '" + dir.path().string() + "' && make -s >/dev/null 2>&1";
    dir.Write("game.s", "nop\n");
    ASSERT_EQ(std::system(make.c_str()), 0);
    EXPECT_EQ(dir.Read("game.vb"), HexToBytes("00 9A"));
    // An older object, then a source with an error.
    std::filesystem::last_write_time(dir / "game.vb", std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    dir.Write("game.s", "nop\nfoo\n");
    EXPECT_NE(std::system(make.c_str()), 0);
    EXPECT_FALSE(dir.Exists("game.vb"));
    EXPECT_NE(std::system(make.c_str()), 0) << "the second make did not run the assembler";
    dir.Write("game.s", "halt\n");
    EXPECT_EQ(std::system(make.c_str()), 0);
    EXPECT_EQ(dir.Read("game.vb"), HexToBytes("01 68"));
}

TEST(CliTest, HelpListsEveryLongOption) {
    ScratchDir dir;
    ToolResult r = RunTool(dir.path(), {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(kBanner + kUsage, 0), 0u);
    for (const char* option : {"--help", "--version", "--classic", "--strict", "--quiet", "--gnu-errors",
                               "--include-dir=DIR", "--define=NAME[=VALUE]", "--keep-object", "--nec-encoding",
                               "--base=ADDR", "--patch=IMAGE", "--table=FILE", "--relocatable"})
        EXPECT_NE(r.out.find(std::string("\n  ") + option + " "), std::string::npos) << option;
}

TEST(CliTest, GnuErrorsForMessagesTiedToNoLine) {
    ScratchDir dir;
    ToolResult r = RunTool(dir.path(), {"--gnu-errors", "missing.s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvo: error: Cannot open missing.s for read.\n");
}

TEST(CliTest, ShippedExamplesAssembleCleanUnderStrict) {
    for (const char* example : {"hello.s", "pcfx.s"}) {
        ScratchDir dir;
        const std::string path = std::string(TARVO_EXAMPLES) + "/" + example;
        ToolResult r = RunTool(dir.path(), {"--strict", "--quiet", path, "-o", "out.bin"});
        EXPECT_EQ(r.status, 0) << example << "\n" << r.out;
        EXPECT_NE(r.out.find(kClean), std::string::npos) << example;
    }
}

// Changing a ROM: list the shipped examples' images as source, assemble
// the listing, and get the same image byte for byte.
TEST(CliTest, ShippedExamplesListAsSourceAndAssembleBack) {
    for (const char* example : {"hello.s", "pcfx.s"}) {
        for (bool entry : {false, true}) {
            ScratchDir dir;
            RunTool(dir.path(), {std::string(TARVO_EXAMPLES) + "/" + example, "-o", "rom.bin"});
            const std::string rom = dir.Read("rom.bin");
            ASSERT_FALSE(rom.empty()) << example;
            std::vector<std::string> args{"rom.bin", "-d", "0", std::to_string(rom.size()), "--source",
                                          "--output=rom.s"};
            if (entry) args.push_back("--entry=0");
            EXPECT_EQ(RunTool(dir.path(), args).status, 0) << example;
            EXPECT_EQ(RunTool(dir.path(), {"rom.s", "-o", "again.bin"}).status, 0) << dir.Read("rom.s");
            EXPECT_EQ(dir.Read("again.bin"), rom) << example << (entry ? " with --entry" : "");
        }
    }
}

// An image built with base. (PC-FX code runs at 0x8000) lists with its own
// names under --base, two names at one address each with its line, and
// assembles back to the same bytes and the same names.
TEST(CliTest, ImageWithItsOwnBaseListsWithEveryNameAndAssemblesBack) {
    ScratchDir dir;
    ASSERT_EQ(RunTool(dir.path(), {std::string(TARVO_EXAMPLES) + "/pcfx.s", "-o", "rom.bin", "--symbols=rom.sym"}).status, 0);
    const std::string rom = dir.Read("rom.bin"), names = dir.Read("rom.sym");
    ASSERT_EQ(names.substr(0, 15), "00008000 start\n");
    dir.Write("rom.sym", "00008000 entry\n" + names);
    ASSERT_EQ(RunTool(dir.path(), {"rom.bin", "-d", "0", std::to_string(rom.size()), "--source", "--base=0x8000",
                                   "--symbols=rom.sym", "--output=rom.s"})
                  .status,
              0);
    EXPECT_EQ(dir.Read("rom.s").substr(0, 38), "\tbase.\t0x00008000\nlb. entry\nlb. start\n");
    EXPECT_EQ(RunTool(dir.path(), {"rom.s", "-o", "again.bin", "--symbols=again.sym"}).status, 0);
    EXPECT_EQ(dir.Read("again.bin"), rom);
    // Every name again at its address (with the L_ names of branch targets).
    const std::string again = dir.Read("again.sym");
    EXPECT_EQ(again.substr(0, 30), "00008000 entry\n00008000 start\n");
    std::istringstream lines(names);
    for (std::string line; std::getline(lines, line);) EXPECT_NE(again.find(line + "\n"), std::string::npos) << line;
    // Without the base the addresses name nothing in the image.
    ASSERT_EQ(RunTool(dir.path(), {"rom.bin", "-d", "0", "8", "--source", "--symbols=rom.sym", "--output=plain.s"}).status, 0);
    EXPECT_EQ(dir.Read("plain.s").find("lb."), std::string::npos) << dir.Read("plain.s");
}

// A span large enough to be listed in pieces on several threads: the
// pieces join into a source that gives the image back.
TEST(CliTest, LargeSpanListsAsSourceAndAssemblesBack) {
    std::string rom(320 * 1024, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : rom) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    ScratchDir dir;
    dir.Write("rom.bin", rom);
    ASSERT_EQ(RunTool(dir.path(), {"rom.bin", "-d", "0", std::to_string(rom.size()), "--source", "--output=rom.s"}).status, 0);
    EXPECT_EQ(RunTool(dir.path(), {"--quiet", "rom.s", "-o", "again.bin"}).status, 0);
    EXPECT_TRUE(dir.Read("again.bin") == rom);
}

TEST(CliTest, OutputsThatCannotBeWrittenAreErrors) {
    ScratchDir dir;
    dir.Write("prog.s", "lb. x\nnop\n");
    // -Z keeps the object file, whose bytes are whole.
    ToolResult r = RunTool(dir.path(), {"prog.s", "--listing=no/such/dir.lst", "--symbols=/dev/full", "--deps=/dev/full", "-Z"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + "Cannot write no/such/dir.lst.\nLabel: x = 0x07000000\nCannot write /dev/full.\n" +
                         "Cannot write /dev/full.\nPass: 1 (OBJ file created)\n" + Report("prog.s", 3, 2));
    EXPECT_EQ(dir.Read("output.obj"), HexToBytes("00 9A"));
}

// The image of a patch is an input: it must exist, and no output replaces it.
TEST(CliTest, PatchImageIsAnInput) {
    ScratchDir dir;
    dir.Write("fix.s", "org. 1\ndb. 0x55\n");
    dir.Write("game.vb", HexToBytes("00 01 02"));
    ToolResult r = RunTool(dir.path(), {"fix.s", "--patch=none.vb", "-o", "out.vb"});
    EXPECT_EQ(r.out, kBanner + "Cannot open none.vb for read.\n");
    EXPECT_EQ(r.status, 1);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"fix.s", "--patch=game.vb", "-o", "./game.vb"},
                                                  {"fix.s", "--patch=game.vb", "--listing=game.vb"}}) {
        r = RunTool(dir.path(), args);
        EXPECT_EQ(r.out, kBanner + "Cannot write " + (args[2] == "-o" ? "./game.vb" : "game.vb") +
                             " over the source file.\n");
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_FALSE(dir.Exists("out.vb"));
    EXPECT_EQ(dir.Read("game.vb"), HexToBytes("00 01 02"));
    EXPECT_EQ(RunTool(dir.path(), {"--syntax=gnu", "fix.s", "--patch=game.vb"}).status, 2);
    EXPECT_EQ(RunTool(dir.path(), {"fix.s", "--patch=game.vb", "-o", "out.vb"}).status, 0);
    EXPECT_EQ(dir.Read("out.vb"), HexToBytes("00 55 02"));
}

// The listings of the disassembly cases assemble back to their images.
TEST(CliTest, ChangingRomListingsAssembleBack) {
    for (const char* name : {"dis_table", "dis_relocatable"}) {
        const std::filesystem::path cases(TARVO_CASES);
        ScratchDir dir;
        dir.Write("rom.s", ReadFile(cases / name / "expected.asm"));
        dir.Write("game.tbl", ReadFile(cases / "dis_table" / "game.tbl"));
        EXPECT_EQ(RunTool(dir.path(), {"rom.s", "-o", "again.bin"}).status, 0) << name;
        EXPECT_EQ(dir.Read("again.bin"), HexToBytes(ReadFile(cases / name / "rom.bin.hex"))) << name;
    }
}

// Code inserted into a relocatable listing: every label expression, @
// target and dw. follows its label, the jr outside the span keeps its
// address, padding before the fixed place shrinks, and what stands after
// it stays. The bytes are worked out by hand from the listing.
TEST(CliTest, RelocatableListingFollowsAnInsert) {
    ScratchDir dir;
    const std::filesystem::path cases(TARVO_CASES);
    dir.Write("rom.bin", HexToBytes(ReadFile(cases / "dis_relocatable" / "rom.bin.hex")));
    ASSERT_EQ(RunTool(dir.path(), {"rom.bin", "-d", "0", "116", "--source", "--relocatable", "--entry=0",
                                   "--entry=0x0700006c", "--output=rom.s"})
                  .status,
              0);
    std::string source = dir.Read("rom.s");
    const std::size_t sub = source.find("lb. L_07000022\n");
    ASSERT_NE(sub, std::string::npos);
    dir.Write("rom.s", source.insert(sub, "\tnop\n"));
    ASSERT_EQ(RunTool(dir.path(), {"rom.s", "-o", "moved.bin"}).status, 0);
    EXPECT_EQ(dir.Read("moved.bin"), HexToBytes(
        "C0 BC 00 07 C6 A0 2E 00 E0 BC 00 07 07 CD 42 00 "   // hi/lo of msg and table + 4, moved
        "20 BD 00 07 49 05 29 A1 2C 00 "                     // a high half read twice: numbers, as they were
        "00 AC 0A 00 0F A8 E2 FF "                           // jal to the moved sub; jr to 0x07100000
        "00 9A 60 BD 00 07 6B A1 26 00 1F 18 "               // the nop; sub + 2 into itself
        "48 69 20 22 79 6F 75 22 0A 09 6F 6B 00 FF FF FF "
        "00 00 00 07 24 00 00 07 2E 00 00 07 43 00 00 07 "   // the pointers follow, table + 1 too
        "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF "
        "FF FF FF FF FF FF FF FF FF FF FF FF FF FF "         // two bytes less padding
        "FF AB 94 FF 6C 00 00 07 "));                        // the fixed place stays
    // Growing into the fixed place is an error, not a move.
    dir.Write("rom.s", source.insert(sub, "\tfill.\t31\n"));
    ToolResult r = RunTool(dir.path(), {"rom.s", "-o", "moved.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error at 0000006d: org. exceds PC\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarvo::test
