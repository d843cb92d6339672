// Self-registering init classes.
//
// A module with start-up or shutdown work defines an object of a class
// derived from i4_init_class; its constructor links it into the registry
// and its destructor unlinks it. The process entry calls init_all_classes
// once at start-up (priorities 0 to 9) and uninit_all_classes once at
// shutdown (9 to 0). Within a priority the newest registration runs first.
// The registry has no lock: it is used only by the process entry's thread
// while no other thread runs.
#pragma once

class i4_init_class {
public:
    i4_init_class();
    virtual ~i4_init_class();
    i4_init_class(const i4_init_class&) = delete;
    i4_init_class& operator=(const i4_init_class&) = delete;

    // The priority, 0 to 9, at which the object is initialised; any other
    // value means never.
    virtual int initType() { return 9; }
    virtual void init() {}
    virtual void uninit() {}

private:
    friend void init_all_classes();
    friend void uninit_all_classes();
    i4_init_class* next_ = nullptr;
};

// Adds hooks run for the process entry's thread after all init work and
// before all uninit work. Threads started later do not run them.
class i4_thread_init_class : public i4_init_class {
public:
    i4_thread_init_class();
    ~i4_thread_init_class() override;

    int initType() override { return 1; }
    virtual void threadInit() {}
    virtual void threadUninit() {}

private:
    friend void thread_init_all();
    friend void thread_uninit_all();
    i4_thread_init_class* nextThread_ = nullptr;
};

void init_all_classes();
void uninit_all_classes();
void thread_init_all();
void thread_uninit_all();
// True from the end of priority 0 of init_all_classes until the end of
// uninit_all_classes.
bool all_classes_initialised();
