// Names as the dos library reads them: wildcard patterns and lists of them, the date text of file
// dates ("dd-Mon-yyyy hh:mm:ss"), and the program and arguments of a command line. Pure
// functions, any thread.
#pragma once

#include <cstddef>
#include <string>

#include "platform/files.h"

namespace qv {

// Matches the whole name: "#" one digit, "?" any one character, "*" any run (also none), "[...]"
// one character of a class ("!" first negates; "a-z" ranges; a "]" right after "[" or "[!" is a
// member; a "[" without a closing "]" is an ordinary character); anything else itself, with case.
// Time grows with the product of the lengths at worst, never exponentially.
bool WildcardMatch(const char* name, const char* pattern);
// True when any pattern of the ";"-separated list matches; an empty list matches nothing. Lists
// of any length.
bool MatchPatternList(const char* list, const char* name);

// "dd-Mon-yyyy hh:mm:ss" (years of four digits; months in English).
std::string FormatDosDate(const qvDate& date);
// Reads that form: the separators at their fixed places (the text is at least 20 characters
// long), day 1-31, a month name without regard to case, hours 0-23, minutes 0-59, seconds
// 0-59. False for anything else.
bool ParseDosDate(const char* text, size_t length, qvDate* date);

// Splits a command line into the program (up to the first blank, or between double quotes when
// it starts with one) and the rest after the blanks that follow. False for an empty line or an
// opening quote without a closing one.
bool SplitCommandLine(const char* line, std::string* program, std::string* arguments);

}  // namespace qv
