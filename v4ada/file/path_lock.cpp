#include "v4ada/file/path_lock.h"

#include <pthread.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct PathLockEntry {
    std::string path;
    bool held = false;
    int users = 0;  // the holder and the waiters
};

pthread_mutex_t tableMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t tableChanged = PTHREAD_COND_INITIALIZER;
std::vector<PathLockEntry>* table = nullptr;  // guarded by tableMutex

PathLockEntry* find_entry(const std::string& path) {
    if (table == nullptr) return nullptr;
    for (PathLockEntry& entry : *table) {
        if (entry.path == path) return &entry;
    }
    return nullptr;
}

}  // namespace

std::string path_lock_key(const char* path) {
    std::string text = path ? path : "";
    size_t slash = text.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    char* real = ::realpath(dir.c_str(), nullptr);
    if (real == nullptr) return text;
    std::string key = real;
    ::free(real);
    if (key != "/") key += "/";
    return key + name;
}

void path_lock_acquire(const std::string& key) {
    pthread_mutex_lock(&tableMutex);
    if (table == nullptr) table = new std::vector<PathLockEntry>();
    PathLockEntry* entry = find_entry(key);
    if (entry == nullptr) {
        table->push_back(PathLockEntry{key, false, 0});
        entry = &table->back();
    }
    entry->users++;
    while (entry->held) {
        pthread_cond_wait(&tableChanged, &tableMutex);
        entry = find_entry(key);  // the table may have moved meanwhile
    }
    entry->held = true;
    pthread_mutex_unlock(&tableMutex);
}

void path_lock_release(const std::string& key) {
    pthread_mutex_lock(&tableMutex);
    PathLockEntry* entry = find_entry(key);
    if (entry != nullptr && entry->held) {
        entry->held = false;
        if (--entry->users == 0) {
            table->erase(table->begin() + (entry - table->data()));
            if (table->empty()) {
                delete table;
                table = nullptr;
            }
        }
        pthread_cond_broadcast(&tableChanged);
    }
    pthread_mutex_unlock(&tableMutex);
}

int path_lock_count() {
    pthread_mutex_lock(&tableMutex);
    int count = table == nullptr ? 0 : static_cast<int>(table->size());
    pthread_mutex_unlock(&tableMutex);
    return count;
}
