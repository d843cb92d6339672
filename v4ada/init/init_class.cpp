#include "v4ada/init/init_class.h"

namespace {

constexpr int kFirstPriority = 0;
constexpr int kLastPriority = 9;

// Both lists grow at the head, so they run from newest to oldest. Plain
// pointers: constant-initialised before any registering constructor runs.
constinit i4_init_class* registry_head = nullptr;
constinit i4_thread_init_class* thread_head = nullptr;
constinit bool initialised = false;

template <typename T, typename Next>
void unlink(T** head, T* object, Next next) {
    for (T** link = head; *link; link = &((*link)->*next)) {
        if (*link == object) {
            *link = object->*next;
            object->*next = nullptr;
            return;
        }
    }
}

}  // namespace

i4_init_class::i4_init_class() : next_(registry_head) { registry_head = this; }

i4_init_class::~i4_init_class() { unlink(&registry_head, this, &i4_init_class::next_); }

i4_thread_init_class::i4_thread_init_class() : nextThread_(thread_head) { thread_head = this; }

i4_thread_init_class::~i4_thread_init_class() {
    unlink(&thread_head, this, &i4_thread_init_class::nextThread_);
}

void init_all_classes() {
    for (int priority = kFirstPriority; priority <= kLastPriority; ++priority) {
        for (i4_init_class* object = registry_head; object; object = object->next_)
            if (object->initType() == priority) object->init();
        if (priority == kFirstPriority) initialised = true;
    }
    thread_init_all();
}

void uninit_all_classes() {
    thread_uninit_all();
    for (int priority = kLastPriority; priority >= kFirstPriority; --priority) {
        for (i4_init_class* object = registry_head; object; object = object->next_)
            if (object->initType() == priority) object->uninit();
    }
    initialised = false;
}

void thread_init_all() {
    for (i4_thread_init_class* object = thread_head; object; object = object->nextThread_) object->threadInit();
}

void thread_uninit_all() {
    for (i4_thread_init_class* object = thread_head; object; object = object->nextThread_)
        object->threadUninit();
}

bool all_classes_initialised() { return initialised; }
