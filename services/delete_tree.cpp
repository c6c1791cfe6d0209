#include "services/delete_tree.h"

#include <cstring>

#include "platform/platform.h"
#include "services/format.h"

namespace {
constexpr int kTreePathSize = 1400;
}

void delete_tree(const char* path) {
    char pattern[kTreePathSize];
    format_into(pattern, sizeof pattern, "%s\\*", path);

    plat_find_data entry;
    plat_find_handle find = plat_find_first(pattern, &entry);
    if (!find) {
        plat_remove_directory(path);
        return;
    }
    do {
        if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) continue;
        char child[kTreePathSize];
        format_into(child, sizeof child, "%s\\%s", path, entry.name);
        bool directory = (entry.attributes & PLAT_ATTR_DIRECTORY) != 0;
        if (directory && (entry.attributes & PLAT_ATTR_REPARSE_POINT)) {
            // A junction or directory link: remove the link, keep its target.
            plat_remove_directory(child);
        } else if (directory) {
            delete_tree(child);
        } else {
            // Read-only, hidden and system files refuse deletion until cleared.
            plat_set_file_attributes(child, PLAT_ATTR_NORMAL);
            plat_delete_file(child);
        }
    } while (plat_find_next(find, &entry));
    plat_find_close(find);
    plat_remove_directory(path);
}
