#include "v4ada/file/fs_paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "v4ada/file/fs.h"

bool fs_convert_path(const char* path, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return false;
    buffer[0] = 0;
    if (path == nullptr) return false;
    size_t length = std::strlen(path);
    if (length >= static_cast<size_t>(size)) return false;
    std::memcpy(buffer, path, length + 1);
    return true;
}

void fs_safe_dot_name(char* name) {
    if (name == nullptr) return;
    for (char* c = name; *c != 0; ++c) {
        if (*c == '/') *c = '_';
    }
    if (std::strcmp(name, ".") == 0) {
        name[0] = '_';
    } else if (std::strcmp(name, "..") == 0) {
        name[0] = '_';
        name[1] = '_';
    }
}

void fs_safe_dot_name(OwnedString& name) {
    if (name.isNull()) return;
    fs_safe_dot_name(name.at(0));
}

namespace {

std::string current_dir_text() {
    OwnedString cwd;
    fs_current_dir(cwd);
    return cwd.c_str() ? cwd.c_str() : "";
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

bool fs_absolute_path(const char* path, OwnedString& out) {
    if (path == nullptr) path = "";
    char* resolved = ::realpath(path, nullptr);
    if (resolved != nullptr) {
        out = resolved;
        ::free(resolved);
        return true;
    }
    std::string text = path;
    if (text.empty() || text[0] != '/') {
        std::string cwd = current_dir_text();
        if (cwd.empty() || cwd.back() != '/') cwd += '/';
        text = cwd + text;
    }
    out = text.c_str();
    return false;
}

bool fs_create_path(const char* path) {
    if (path == nullptr || path[0] == 0) return false;
    std::string text = path;
    for (size_t i = 1; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '/') continue;
        std::string prefix = text.substr(0, i);
        struct stat st;
        if (::stat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        if (fs_make_dir(prefix.c_str())) continue;
        // Another thread or process may have made it meanwhile.
        if (errno == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        return false;
    }
    return true;
}

bool fs_path_parts(const char* path, OwnedString& directory, OwnedString& name,
                   OwnedString& extension) {
    if (path == nullptr) path = "";
    const char* slash = std::strrchr(path, '/');
    const char* start = path;
    if (slash != nullptr) {
        directory = OwnedString(path, static_cast<int>(slash - path));
        start = slash + 1;
    }
    const char* dot = std::strrchr(start, '.');
    if (dot != nullptr) {
        name = OwnedString(start, static_cast<int>(dot - start));
        extension = dot + 1;
    } else {
        name = start;
    }
    return true;
}

bool fs_relative_path(const char* path, OwnedString& out) {
    OwnedString absolute;
    OwnedString here;
    fs_absolute_path(path, absolute);
    fs_absolute_path(".", here);
    std::vector<std::string> target = components(absolute.c_str());
    std::vector<std::string> base = components(here.c_str());
    size_t common = 0;
    while (common < target.size() && common < base.size() && target[common] == base[common]) {
        ++common;
    }
    std::string text;
    for (size_t i = common; i < base.size(); ++i) text += "../";
    for (size_t i = common; i < target.size(); ++i) {
        text += target[i];
        if (i + 1 < target.size()) text += '/';
    }
    if (text.empty()) {
        text.assign(1, '.');
    } else if (text.back() == '/') {
        text.pop_back();
    }
    out = text.c_str();
    return true;
}
