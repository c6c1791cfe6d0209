// Splitting a Windows command line into arguments, by the C runtime's rules.
#pragma once

#include <string>
#include <vector>

// The program name is taken up to the closing quote or the first blank, with
// no escapes. Then: blanks separate arguments outside quotes; 2n backslashes
// before a quote give n backslashes and the quote toggles quoting; 2n+1 give n
// backslashes and a literal quote; other backslashes are literal; "" inside
// quotes gives one literal quote.
std::vector<std::string> split_command_line(const char* command_line);
