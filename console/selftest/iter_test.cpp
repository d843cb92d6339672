#include "console/selftest/iter_test.h"

#include <cstring>
#include <initializer_list>

#include "console/selftest/test_output.h"
#include "v4ada/containers/list_iterator.h"
#include "v4ada/containers/ll.h"
#include "v4ada/string/owned_string.h"

namespace {

void* entry(const char* text) { return const_cast<char*>(text); }

// A walk of the list that stops at given visits: at(k) steps until the
// k-th visited entry (from 0) is the last returned one.
class Walk {
public:
    explicit Walk(LL* list) : it_(list) {}
    ListIterator* at(int k) {
        while (visited_ < k + 1 && it_.hasMore()) {
            it_.next();
            visited_++;
        }
        return &it_;
    }

private:
    ListIterator it_;
    int visited_ = 0;
};

// The list's concatenation must be the expected text; otherwise the
// mismatch is printed.
bool check(LL* list, const char* expected) {
    OwnedString text("");
    LLNode* cursor = nullptr;
    while (void* s = LL::walk(list, &cursor)) text.append(static_cast<const char*>(s));
    if (strcmp(text.c_str(), expected) == 0) return true;
    test_print_raw("Failed at: %s (", expected);
    cursor = nullptr;
    while (void* s = LL::walk(list, &cursor)) test_print_raw("%s", static_cast<const char*>(s));
    test_print_raw(")\n");
    return false;
}

void removeAt(LL* list, std::initializer_list<int> visits) {
    Walk walk(list);
    for (int k : visits) walk.at(k)->removeCurrent();
}

void insertAfter(LL* list, std::initializer_list<int> visits, const char* text) {
    Walk walk(list);
    for (int k : visits) walk.at(k)->insertAfter(entry(text));
}

void insertBefore(LL* list, int k, const char* text) { Walk(list).at(k)->insertBefore(entry(text)); }

}  // namespace

bool IterTest::run() {
    test_print(" ListIterator test:");
    LL list;
    for (const char* s : {"a", "b", "c", "d", "e", "f", "g"}) list.append(entry(s));

    if (!check(&list, "abcdefg")) return false;
    removeAt(&list, {0});
    if (!check(&list, "bcdefg")) return false;

    removeAt(&list, {2});
    if (!check(&list, "bcefg")) return false;
    removeAt(&list, {4});
    if (!check(&list, "bcef")) return false;

    insertAfter(&list, {3}, "g");
    if (!check(&list, "bcefg")) return false;

    insertAfter(&list, {0}, "7");
    if (!check(&list, "b7cefg")) return false;

    insertBefore(&list, 0, "a");
    if (!check(&list, "ab7cefg")) return false;

    insertBefore(&list, 3, "1");
    if (!check(&list, "ab71cefg")) return false;

    // An inserted entry is not visited, so the second visit is one further.
    insertAfter(&list, {3, 6}, "2");
    if (!check(&list, "ab712cef2g")) return false;

    removeAt(&list, {2, 3, 4});
    return check(&list, "abcef2g");
}
