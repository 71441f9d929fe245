// Where names stand in the text of a source: the library reads each file
// the run read once more, token by token, and finds the uses of the names
// the run defined, the local labels and the files it included. Column
// ranges of messages come from here too.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo::lib {

// A token of a source line: its text and where it stands.
struct Token {
    std::string_view text;
    int line = 0;    // from 1
    int column = 0;  // from 0
};

// The tokens of a file that may name something, in order: names and
// numbers of expressions, directives, mnemonics, quoted file names (with
// their quotes). Comments are left out; strings other than a directive's
// file name are left out.
std::vector<Token> Tokens(std::string_view text, Syntax syntax);

// Where the next line begins after the line that begins at from: a line
// ends at \n, \r\n or a lone \r, as editors and the default language count
// lines. npos when the line is the last.
std::size_t NextLine(std::string_view text, std::size_t from);

// The line of text (from 1), without its line end; empty past the end.
std::string_view LineOf(std::string_view text, int line);

// Adds to names the places where each is used in the file (path, text), the
// local labels ("N:" with "Nb"/"Nf") as names of their own, and the files
// that the file includes. Names compare ignoring letter case in the
// default language.
void IndexFile(const std::string& path, std::string_view text, Syntax syntax, const std::vector<std::string>& files,
               std::vector<Name>& names);

// The column range of what a message is about on its line: the token it
// names (the text in its last parentheses or `quotes'), when the line holds
// it; else -1 both.
void FindColumns(std::string_view line, std::string_view token, std::string_view message, Place& place);

}  // namespace tarvo::lib
