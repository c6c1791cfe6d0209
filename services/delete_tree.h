#pragma once

// Removes a directory and everything below it, as far as it can: a file that
// cannot be deleted stays, and so do the directories above it. A directory
// link is removed itself; its target is never entered. Reports nothing.
void delete_tree(const char* path);
