// Every text the program prints, as printf formats, so that wording and
// argument types are checked in one place.
#pragma once

namespace tarvo::msg {

// Start-up and command line.
inline constexpr const char* kBanner = "V810 Assembler 0.55\n";
inline constexpr const char* kUsage1 = "Usage:    tarvo [src file] [options]\n\n";
inline constexpr const char* kUsage2 = "Options:  -o <file>        Set output file\n";
inline constexpr const char* kUsage3 = "          -s               Obj in stdout\n";
inline constexpr const char* kUsage4 = "          -d <Adr> <bytes> Dissasm start <Adr> and <bytes>\n";
inline constexpr const char* kCannotOpenRead = "Cannot open %s for read.\n";
inline constexpr const char* kCannotOpenObj = "Cannot open output.obj for write.\n";
inline constexpr const char* kCannotOpenWrite = "Cannot open %s for write.\n";
inline constexpr const char* kCannotOpenAsm = "Cannot open output.asm for write.\n";
inline constexpr const char* kOverSource = "Cannot write %s over the source file.\n";
inline constexpr const char* kCannotWrite = "Cannot write %s.\n";
inline constexpr const char* kCannotRead = "Cannot read %s.\n";
inline constexpr const char* kBadStart = "Invalid Starting Address.\n";
inline constexpr const char* kBadCount = "Cannot dissasm this number of bytes.\n";
inline constexpr const char* kUnknownOption = "Unknown option %s.\n";
inline constexpr const char* kNeedsValue = "Option %s needs a value.\n";
inline constexpr const char* kUnknownArgument = "Unknown argument %s.\n";
inline constexpr const char* kDepsNeedTarget = "Option --deps needs --deps-target with -s.\n";
inline constexpr const char* kBadByte = "Option %s needs a byte value (0 to 255).\n";
inline constexpr const char* kNeedsLink = "Option %s needs link mode (two or more sources, -T or --link).\n";
inline constexpr const char* kLinkNoDisassembly = "Link mode makes an image; -d takes one file.\n";
inline constexpr const char* kVersion = "tarvo %s\n";
inline constexpr const char* kNoServer = "This tarvo was built without its language server (--lsp).\n";

// Assembly pass.
inline constexpr const char* kPassFail = "Pass: 0 (Too many errors)\n";
inline constexpr const char* kPassObj = "Pass: 1 (OBJ file created)\n";
inline constexpr const char* kPassClean = "Pass: 2 (No errors)\n";
inline constexpr const char* kReport = "Assembled:\t%s\n# Errors:\t%d\n# Bytes:\t%ld\n";
inline constexpr const char* kLinePrefix = "Error in line %d: ";
inline constexpr const char* kInvalidOpcode = "Invalid Opcode (%s)\n";
inline constexpr const char* kInvalidParam = "Invalid Parameter (%s)\n";
inline constexpr const char* kSyntaxError = "Syntax Error.\n";
inline constexpr const char* kUnknownError = "Unknown Error (%s)\n";

// Labels, expressions and forward references; each names the operand.
inline constexpr const char* kTargetRange = "Target out of range (%s)\n";
inline constexpr const char* kTargetAlign = "Target not aligned (%s)\n";
inline constexpr const char* kUndefinedName = "Undefined name (%s)\n";
inline constexpr const char* kDivZero = "Division by zero (%s)\n";

// --strict; each names the token, after the classic prefix of its line.
inline constexpr const char* kValueRange = "Value out of range (%s)\n";
inline constexpr const char* kOddDisplacement = "Displacement not aligned (%s)\n";
inline constexpr const char* kRegisterRange = "Register out of range (%s)\n";
inline constexpr const char* kTrailing = "Characters after number (%s)\n";
inline constexpr const char* kLabelTwice = "Label defined twice (%s)\n";
inline constexpr const char* kNameTwice = "Name defined twice (%s)\n";
inline constexpr const char* kNameIsNumber = "Name reads as a number or register (%s)\n";
inline constexpr const char* kOddLocation = "Instruction at odd location (%s)\n";
inline constexpr const char* kBeyondImage = "Location beyond 0xFFFFFF (%s)\n";
inline constexpr const char* kAfterOperands = "Characters after the operands (%s)\n";
inline constexpr const char* kObjectRemoved = "Object file removed.\n";

// Uncounted warnings where the classic reading is almost surely a mistake
// (counted errors under --strict); each names the operand twice.
inline constexpr const char* kWarningLinePrefix = "Warning in line %d: ";
inline constexpr const char* kLabelDisplacement = "Label used as a displacement (%s); write @%s\n";
inline constexpr const char* kLocalWithoutAt = "Local label without @ (%s); write @%s\n";

// Directives and pseudo-instructions; each follows "Error at %08x: ".
inline constexpr const char* kErrorPrefix = "Error at %08x: ";
inline constexpr const char* kWarningPrefix = "Warning at %08x: ";
inline constexpr const char* kInvalidOrg = "Invalid org. value\n";
inline constexpr const char* kOrgBelowPC = "org. exceds PC\n";
inline constexpr const char* kInvalidBase = "Invalid base. value\n";
inline constexpr const char* kInvalidAlign = "Invalid align. value\n";
inline constexpr const char* kInvalidFill = "Invalid fill. value\n";
inline constexpr const char* kInvalidString = "Invalid string\n";
inline constexpr const char* kNoClosingQuote = "String without closing quote.\n";
inline constexpr const char* kInvalid32 = "Invalid 32-bit Argument\n";
inline constexpr const char* kInvalid16 = "Invalid 16-bit Argument\n";
inline constexpr const char* kInvalid8 = "Invalid 8-bit Argument\n";
inline constexpr const char* kDefine = "Define: %s = %s\n";
inline constexpr const char* kLabel = "Label: %s = %s\n";
inline constexpr const char* kInvalidDefineName = "Invalid Define Name\n";
inline constexpr const char* kInvalidDefineValue = "Invalid Define Value\n";
inline constexpr const char* kInvalidLabelName = "Invalid Label Name\n";
inline constexpr const char* kInvalidInclude = "Invalid include notation.\n";
inline constexpr const char* kAssumingName = "Assuming \"%s\" file without closing quote.\n";
inline constexpr const char* kCannotOpenInclude = "Cannot open \"%s\" file.\n";
inline constexpr const char* kRecursiveInclude = "Recursive include of \"%s\" file.\n";
inline constexpr const char* kStartRecursion = "Starting recursion with %s .";
inline constexpr const char* kRecursionOk = "... Pass(Ok)\n";
inline constexpr const char* kRecursionFail = "... Pass(Fail!)\n";
inline constexpr const char* kJumpNoLabel = "Jump without valid label\n";
inline constexpr const char* kJumpFailed = "Fatal error in jump substitution\n";
inline constexpr const char* kCallNoLabel = "Call without valid label\n";
inline constexpr const char* kLinkFailed = "Fatal error in link calling\n";
inline constexpr const char* kCallFailed = "Fatal error in call substitution\n";
inline constexpr const char* kMov32NoNumber = "Move32 without valid number\n";
inline constexpr const char* kMov32NoParam = "Move32 without valid param\n";
inline constexpr const char* kMov32BadDefine = "Move32 without a valid define (%s)\n";
inline constexpr const char* kMov32NoReg = "Move32 without valid reg (%s)\n";
inline constexpr const char* kMov32Failed = "Fatal error in mov32 substitution\n";

// Macros, repetition, conditions, binary data, checks; each follows "Error at %08x: ".
inline constexpr const char* kTooManyArguments = "Too many macro arguments (%s)\n";
inline constexpr const char* kMacroTooDeep = "Macro nesting too deep (%s)\n";
inline constexpr const char* kInvalidMacroName = "Invalid macro name (%s)\n";
inline constexpr const char* kMacroTwice = "Macro defined twice (%s)\n";
inline constexpr const char* kTooManyRepetitions = "Too many repetitions\n";
inline constexpr const char* kConditionTooDeep = "Conditional nesting too deep\n";
inline constexpr const char* kUnbalanced = "Unbalanced conditional (%s)\n";
inline constexpr const char* kNotKnownYet = "Value not known yet (%s)\n";
inline constexpr const char* kMissingEndm = "Missing endm. (%s)\n";  // "Error in line %d: ", at the opener
inline constexpr const char* kMissingEndr = "Missing endr. (%s)\n";
inline constexpr const char* kIncbinRange = "Invalid incbin. range\n";
inline constexpr const char* kAssertionFailed = "Assertion failed (%s)\n";
inline constexpr const char* kInvalidEscape = "Invalid escape (%s)\n";
inline constexpr const char* kUserText = "%s\n";  // error. and warning.

// Changing ROMs; each follows "Error at %08x: " (an area. left open: "Error in line %d: ").
inline constexpr const char* kInvalidArea = "Invalid area. value\n";
inline constexpr const char* kUnbalancedArea = "Unbalanced area.\n";
inline constexpr const char* kAreaOverflow = "Area overflow (%d bytes over)\n";
inline constexpr const char* kMissingEndarea = "Missing endarea. (area.)\n";
inline constexpr const char* kInvalidTableLine = "Invalid table line (%s:%d)\n";
inline constexpr const char* kNoTableEntry = "No table entry (%s)\n";

// Disassembly.
inline constexpr const char* kDisasmInfo =
    "Dissasm Information\n\tInitial Address: 0x%08x\n\t# Bytes to dissasm: %d\n";
inline constexpr const char* kStartReading = "Start Reading...\n";
inline constexpr const char* kFinishReading = "Finish Reading...\n";
inline constexpr const char* kInvalidRom = "\nInvalid ROM Data in 0x%08x reading 0x%08x";
inline constexpr const char* kDisasmOk = "Dissasm succesful.\n";
inline constexpr const char* kDisasmFail = "Errors in dissasembler.\n";

// GNU syntax mode: each follows "FILE:LINE: Error: " or "FILE:LINE: Warning: ".
inline constexpr const char* kGnuUnknownDirective = "unknown pseudo-op: `%s'";
inline constexpr const char* kGnuUnknownMnemonic = "unrecognized opcode: `%s'";
inline constexpr const char* kGnuBadOperands = "invalid operands (%s)";
inline constexpr const char* kGnuBadRegister = "invalid register name: `%s'";
inline constexpr const char* kGnuBadNamed = "invalid %s: `%s'";
inline constexpr const char* kGnuAreaOfNumber = "%s() needs an address, not a number";
inline constexpr const char* kGnuAreaRange = "%s() offset %lld does not reach its data area (-32768..32767)";
inline constexpr const char* kGnuBadExpression = "bad expression: `%s'";
inline constexpr const char* kGnuDivZero = "division by zero";
inline constexpr const char* kGnuNotConstant = "non-constant expression: `%s'";
inline constexpr const char* kGnuUndefined = "undefined symbol `%s'";
inline constexpr const char* kGnuUndefinedLocal = "local label `%s' is not defined";
inline constexpr const char* kGnuRedefined = "symbol `%s' is already defined";
inline constexpr const char* kGnuCut = "value %lld out of range %lld..%lld, cut to %llu";
inline constexpr const char* kGnuBranchRange = "branch to `%s' out of range";
inline constexpr const char* kGnuJumpCut = "jump to `%s' out of range, cut to 26 bits";
inline constexpr const char* kGnuOrgBackwards = "attempt to move .org backwards";
inline constexpr const char* kGnuErr = ".err encountered";
inline constexpr const char* kGnuErrorInvoked = ".error directive invoked in source file";
inline constexpr const char* kGnuWarningInvoked = ".warning directive invoked in source file";
inline constexpr const char* kGnuText = "%s";
inline constexpr const char* kGnuCannotOpen = "can't open %s for reading";
inline constexpr const char* kGnuIncludeDepth = "includes nested too deeply (%s)";
inline constexpr const char* kGnuMacroTwice = "macro `%s' was already defined";
inline constexpr const char* kGnuMacroDepth = "macros nested too deeply (%s)";
inline constexpr const char* kGnuMissingArg = "missing value for required parameter `%s' of macro `%s'";
inline constexpr const char* kGnuTooManyArgs = "too many positional arguments for macro `%s'";
inline constexpr const char* kGnuBadParam = "`%s' is not a parameter of macro `%s'";
inline constexpr const char* kGnuNoEnd = "missing %s";
// The note after a message from a macro or repeat body, before what the call expands.
inline constexpr const char* kGnuCallNote = "in expansion of ";
inline constexpr const char* kGnuCondAtEnd = "end of file inside a conditional";
inline constexpr const char* kGnuCondOpener = "here the unterminated conditional begins";
inline constexpr const char* kGnuCondElse = "here is the .else of the unterminated conditional";
inline constexpr const char* kGnuNoLineEnd = "the last line has no line end";
inline constexpr const char* kGnuUnbalanced = "%s without a matching opener";
inline constexpr const char* kGnuExpected = "expected %s";
inline constexpr const char* kGnuJunk = "junk at end of line: `%s'";
inline constexpr const char* kGnuSubsection = "subsections are not taken: `%s'";
inline constexpr const char* kGnuTooMany = "macros and repeats produced more than 10000000 statements";
inline constexpr const char* kGnuNoBits = "attempt to store non-zero value in section `%s'";
inline constexpr const char* kGnuNoBitsFill = "ignoring fill value in section `%s'";
inline constexpr const char* kGnuDuplicateElse = "duplicate \"else\"";
inline constexpr const char* kGnuBadAlign = "alignment not a power of 2";
inline constexpr const char* kGnuNegativeAlign = "negative alignment: none taken";
inline constexpr const char* kGnuBadSize = "size %lld out of range";
inline constexpr const char* kGnuNoSection = "no section to pop";
inline constexpr const char* kGnuTooLarge = "the image would pass %s";
inline constexpr const char* kGnuIncbinRange = "invalid .incbin range";
inline constexpr const char* kGnuBadOption = "bad --section-start or --defsym value: %s";
inline constexpr const char* kGnuNeedsGnu = "Option %s needs --syntax=gnu.\n";
inline constexpr const char* kNotForGnu = "Option %s does not work with --syntax=gnu.\n";

// Linking (GNU projects): each follows the place it names, "FILE:LINE: " or
// "FILE: ".
inline constexpr const char* kLinkCannotRead = "cannot read linker script %s";
inline constexpr const char* kLinkIncludeDepth = "INCLUDE nested too deeply (%s)";
inline constexpr const char* kLinkIncludeCount = "more than 1000 INCLUDEs (%s)";
inline constexpr const char* kLinkNotTaken = "`%s' is not a linker script command tarvo takes";
inline constexpr const char* kLinkExpected = "expected %s before `%s'";
inline constexpr const char* kLinkUnknownFunction = "unknown function `%s' in an expression";
inline constexpr const char* kLinkFunctionNotTaken = "`%s' is not a linker script function tarvo takes";
inline constexpr const char* kLinkBadNumber = "bad number `%s'";
inline constexpr const char* kLinkOpenComment = "comment without an end";
inline constexpr const char* kLinkOpenString = "string without an end";
inline constexpr const char* kLinkBadAttribute = "invalid memory region attribute `%c'";
inline constexpr const char* kLinkRegionTwice = "memory region `%s' is defined twice";
inline constexpr const char* kLinkNoRegion = "memory region `%s' is not defined";
inline constexpr const char* kLinkRegionUndeclared = "memory region `%s' is not declared; it takes every address";
inline constexpr const char* kLinkBothLma = "section `%s' has both a load address and a load region";
inline constexpr const char* kLinkNotConstant = "the %s is not a constant";
inline constexpr const char* kLinkProvideDot = "PROVIDE cannot set the location counter";
inline constexpr const char* kLinkUndefinedRef = "undefined reference to `%s'";
inline constexpr const char* kLinkMultipleDef = "multiple definition of `%s'; first defined at %s";
inline constexpr const char* kLinkUndefinedInExpr = "undefined symbol `%s' referenced in expression";
inline constexpr const char* kLinkUndefinedSection = "undefined section `%s' referenced in expression";
inline constexpr const char* kLinkDivZero = "division by zero";
inline constexpr const char* kLinkModZero = "%% by zero";
inline constexpr const char* kLinkBackwards = "cannot move location counter backwards (from 0x%llx to 0x%llx)";
inline constexpr const char* kLinkNotPowerOf2 = "alignment %llu is not a power of 2";
inline constexpr const char* kLinkWillNotFit = "section `%s' will not fit in region `%s'";
inline constexpr const char* kLinkOverflow = "region `%s' overflowed by %llu bytes";
inline constexpr const char* kLinkNotWithin = "address 0x%llx of section `%s' is not within region `%s'";
inline constexpr const char* kLinkNoMemory = "no memory region given for loadable section `%s'";
inline constexpr const char* kLinkWraps = "section `%s' %s wraps around the address space";
inline constexpr const char* kLinkOverlap = "section `%s' %s [0x%llx,0x%llx] overlaps section `%s' %s [0x%llx,0x%llx]";
inline constexpr const char* kLinkDiscarded = "`%s' is used, but defined in section `%s' of %s, which /DISCARD/ drops";
inline constexpr const char* kLinkNotSettled = "addresses do not settle after %d passes";
inline constexpr const char* kLinkNoEntry = "cannot find entry symbol %s";
inline constexpr const char* kLinkBadSectionStart = "bad --section-start value: %s";
inline constexpr const char* kLinkTooLarge = "the image would be %llu bytes, from 0x%llx to 0x%llx";
inline constexpr const char* kLinkAssert = "%s";

}  // namespace tarvo::msg
