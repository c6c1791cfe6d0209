// UTF-8 and UTF-16 conversions with the Windows code-page functions' contract.
#pragma once

#include <string>

// As WideCharToMultiByte / MultiByteToWideChar with CP_UTF8 and no flags:
// in_length -1 converts up to and including the NUL; out_size 0 asks for the
// size needed; an output that does not fit gives 0. Ill-formed input becomes
// U+FFFD.
int windows_wide_to_utf8(const char16_t* in, int in_length, char* out, int out_size);
int windows_utf8_to_wide(const char* in, int in_length, char16_t* out, int out_size);

std::u16string utf8_to_utf16(const std::string& text);
