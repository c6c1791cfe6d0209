// Name patterns and listing order as Windows directory listings have them.
#pragma once

// "*" matches any run, "?" one character, letters match without regard to
// case, and a pattern ending in ".*" also matches the name without it
// ("app.*" matches "app").
bool windows_name_matches(const char* pattern, const char* name);

// NTFS order: "." then "..", then names compared without regard to case.
int windows_listing_order(const char* a, const char* b);
