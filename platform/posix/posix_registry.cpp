// The registry of the native build: a folder per key under a root folder
// ($PELKO_REGISTRY_ROOT, else ~/.local/share/pelko-registry/HKCU), a file per
// value holding exactly the stored bytes. The unnamed value is "(Default)".
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/posix_layer.h"

namespace {

struct Key {
    std::string path;
};

std::string registry_root() {
    if (const char* root = std::getenv("PELKO_REGISTRY_ROOT"); root && *root) return root;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/pelko-registry/HKCU";
}

bool make_path(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            struct stat st;
            if (::stat(part.c_str(), &st) != 0 && ::mkdir(part.c_str(), 0777) != 0) return false;
        }
    }
    return true;
}

}  // namespace

bool posix_reg_create_key(plat_reg_key parent, const char* subkey, plat_reg_key* out) {
    std::string path = parent ? static_cast<Key*>(parent)->path : registry_root();
    std::string sub = subkey;
    for (char& c : sub)
        if (c == '\\') c = '/';
    path += "/" + sub;
    if (!make_path(path)) return false;
    *out = new Key{path};
    return true;
}

bool posix_reg_set_string(plat_reg_key key, const char* name, const char* data, uint32_t stored_length) {
    std::string file = static_cast<Key*>(key)->path + "/" + (name ? name : "(Default)");
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, stored_length, f) == stored_length;
    return std::fclose(f) == 0 && ok;
}

void posix_reg_close_key(plat_reg_key key) { delete static_cast<Key*>(key); }
