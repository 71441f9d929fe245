#include <gtest/gtest.h>

#include <string>

#include "symbols/symbols.h"

namespace tarvo {
namespace {

void Define(SymbolList& list, std::string name, std::string value) {
    Constant c = SymbolList::CreateConstant();
    c.szName = std::move(name);
    c.szValue = std::move(value);
    list.InsertConstant(std::move(c));
}

TEST(SymbolListTest, EmptyListFindsNothingAndClearsQuietly) {
    SymbolList list;
    EXPECT_FALSE(list.CheckConstant("x"));
    list.ClearConstant();
    EXPECT_TRUE(list.empty());
}

TEST(SymbolListTest, MatchesWholeNamesIgnoringCase) {
    SymbolList list;
    Define(list, "START", "0x07000010");
    EXPECT_EQ(list.CheckConstant("start"), "0x07000010");
    EXPECT_EQ(list.CheckConstant("Start"), "0x07000010");
    EXPECT_FALSE(list.CheckConstant("sta"));
    EXPECT_FALSE(list.CheckConstant("started"));
    EXPECT_FALSE(list.CheckConstant(""));
}

TEST(SymbolListTest, NewestDefinitionWinsAndOldRecordsStay) {
    SymbolList list;
    Define(list, "x", "1");
    Define(list, "y", "2");
    Define(list, "X", "3");
    EXPECT_EQ(list.CheckConstant("x"), "3");
    EXPECT_EQ(list.CheckConstant("y"), "2");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].szValue, "1");  // insertion order is kept
    EXPECT_EQ(list[2].szName, "X");
}

TEST(SymbolListTest, ClearForgetsEverything) {
    SymbolList list;
    Define(list, "a", "1");
    list.ClearConstant();
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(list.CheckConstant("a"));
    Define(list, "b", "2");  // usable again after clearing
    EXPECT_EQ(list.CheckConstant("b"), "2");
}

TEST(SymbolListTest, NamesAndValuesOfEveryLengthAroundTheInlineLimit) {
    // Pairs of up to 12 bytes live in the index itself, longer ones only in
    // their record: try totals of 11, 12 and 13 bytes with every split.
    SymbolList list;
    auto value = [](char c, std::size_t n, std::size_t total) { return std::string(total - n, c) + "#"; };
    for (std::size_t total : {10u, 11u, 12u})
        for (std::size_t n = 1; n < total; ++n)
            Define(list, std::string(n, static_cast<char>('a' + total - 10)), value('v', n, total));
    for (std::size_t total : {10u, 11u, 12u})
        for (std::size_t n = 1; n < total; ++n)
            EXPECT_EQ(list.CheckConstant(std::string(n, static_cast<char>('A' + total - 10))), value('v', n, total))
                << n << " of " << total + 1;
    Define(list, "bbb", "new");
    EXPECT_EQ(list.CheckConstant("BBB"), "new");
    EXPECT_EQ(list.CheckConstant("bbbb"), value('v', 4, 11));
}

TEST(SymbolListTest, LookupReadsTheValueAsTheNumberItBeginsWith) {
    SymbolList list;
    Define(list, "hex", "0x0700001a");
    Define(list, "trail", "12abc");
    Define(list, "reg", "$5");
    Define(list, "expr", std::string(20, ' ') + "(a+1)");  // a value text kept in its record
    auto hex = list.Lookup("HEX");
    ASSERT_TRUE(hex);
    EXPECT_TRUE(hex->isNumber);
    EXPECT_EQ(hex->number, 0x0700001a);
    EXPECT_TRUE(hex->whole());
    EXPECT_EQ(list.Lookup("trail")->number, 12);
    // Inside "(...)" a value that is more than its number is read whole.
    EXPECT_FALSE(list.Lookup("trail")->whole());
    EXPECT_EQ(list.Lookup("trail")->text, "12abc");
    EXPECT_FALSE(list.Lookup("reg")->isNumber);
    EXPECT_EQ(list.Lookup("reg")->text, "$5");
    EXPECT_EQ(list.Lookup("expr")->text, std::string(20, ' ') + "(a+1)");
    EXPECT_FALSE(list.Lookup("absent"));
}

TEST(SymbolListTest, AwaitedNamesAreNotDefinedAndHandTheirWaitsToTheirDefinition) {
    // A short name is kept in its slot, a long one in a record of its own.
    for (const std::string& name : {std::string("later"), std::string(40, 'w')}) {
        SymbolList list;
        list.Waits(name) = 7;
        EXPECT_EQ(list.Waits(name), 7u);
        EXPECT_FALSE(list.CheckConstant(name));
        EXPECT_FALSE(list.Lookup(name));
        EXPECT_EQ(list.FindConstant(name), nullptr);
        EXPECT_TRUE(list.empty());  // awaiting is no definition
        Constant c = SymbolList::CreateConstant();
        c.szName = name;
        c.szValue = "16";
        std::uint32_t waits = 0;
        list.InsertConstant(std::move(c), &waits);
        EXPECT_EQ(waits, 7u) << name;
        EXPECT_EQ(list.Waits(name), SymbolList::kNoWaits);  // the definition took them
        EXPECT_EQ(list.CheckConstant(name), "16");
    }
}

TEST(SymbolListTest, LongNamesAreKeptWholeAndNeverCollide) {
    SymbolList list;
    std::string base(1000, 'n');
    Define(list, base + "1", std::string(500, 'v'));
    Define(list, base + "2", "short");
    EXPECT_EQ(list.CheckConstant(base + "1"), std::string(500, 'v'));
    EXPECT_EQ(list.CheckConstant(base + "2"), "short");
    EXPECT_FALSE(list.CheckConstant(base));
}

TEST(SymbolListTest, WaitingForANameJustMissedFindsItsSlotWhateverCameBetween) {
    // Between the failed lookup and the wait: nothing, another name taking
    // a slot, the same name awaited already; and a wait that grows the
    // index itself (the first index of 64 slots holds 51 names). "lated"
    // makes "later" look like a name, so the lookup reaches the index.
    for (int between = 0; between < 4; ++between) {
        SymbolList list;
        Define(list, "lated", "1");
        if (between == 2)
            for (int i = 0; i < 50; ++i) Define(list, "name" + std::to_string(i), "3");
        EXPECT_FALSE(list.CheckConstant("later"));
        if (between == 1) Define(list, "other", "2");
        if (between == 3) list.Waits("LATER") = 4;
        list.Waits("later") = 9;
        std::uint32_t waits = 0;
        Constant c = SymbolList::CreateConstant();
        c.szName = "Later";
        c.szValue = "5";
        list.InsertConstant(std::move(c), &waits);
        EXPECT_EQ(waits, 9u) << between;
        EXPECT_EQ(list.CheckConstant("lated"), "1") << between;
    }
}

TEST(SymbolListTest, ManyNamesStayFindableThroughGrowth) {
    SymbolList list;
    for (int i = 0; i < 20000; ++i) Define(list, "name" + std::to_string(i), std::to_string(i));
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(list.CheckConstant("NAME" + std::to_string(i)), std::to_string(i));
    for (int i = 0; i < 20000; ++i) Define(list, "more" + std::to_string(i), "v");
    EXPECT_EQ(list.CheckConstant("name0"), "0") << "still found after the index grew again";
}

TEST(StricmpTest, IgnoresAsciiCaseOnly) {
    EXPECT_EQ(stricmp("MovBSU", "movbsu"), 0);
    EXPECT_NE(stricmp("mov", "movea"), 0);
    EXPECT_NE(stricmp("[", "{"), 0);  // 0x5B and 0x7B differ by the case bit, yet are not letters
    EXPECT_LT(stricmp("a", "b"), 0);
}

}  // namespace
}  // namespace tarvo
