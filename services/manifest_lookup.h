#pragma once

// Reads the string value of key out of a JSON text by searching for the
// quoted key: the first occurrence from text on, then the first ":" after it,
// then the text between the next two double quotes, byte for byte (escapes
// are not decoded). A heap copy the caller frees, or null when none is found.
char* json_get_string(const char* text, const char* key);
