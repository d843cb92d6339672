// PageViewer: collects the lines a console listing prints while it runs on
// the task thread and shows them page by page on the console thread once
// the command is done.
//
// Only a console line may fill the pager: the interpreter opens collecting
// on the thread that runs a console line, for the time it runs. begin arms
// the pager only then, and only lines printed by that thread are taken, so
// lines of remote or argument commands, and of other threads, print at
// once. The pager takes printed lines as the output gateway's page sink.
//
// Showing pages only when the keys come from a terminal; otherwise every
// line is printed at once. At the page prompt a space shows the next page;
// 'q', 'Q', the end of input or a read error end the listing.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "core/ui/page_sink.h"
#include "v4ada/threads/linux/sys_mutex.h"

class UIGateway;

class PageViewer : public PageSink {
public:
    static constexpr int kMaxLines = 1000;
    static constexpr int kDefaultLinesPerPage = 24;
    static constexpr const char* kFullMarker = "PageViewer is full...";
    static constexpr const char* kPagePrompt = "press space bar for next page, 'q' to quit";

    // Where the page prompt's keys come from: the next key, or -1 at end of
    // input, on a read error or when the console stops.
    class KeySource {
    public:
        virtual int readKey() = 0;
        virtual bool isTerminal() = 0;

    protected:
        ~KeySource() = default;
    };

    PageViewer();
    ~PageViewer() override;
    PageViewer(const PageViewer&) = delete;
    PageViewer& operator=(const PageViewer&) = delete;

    // Arms the pager for a listing and drops what an earlier listing left;
    // nothing while collecting is closed.
    void begin();
    // Stores a copy of the line while armed (null is ignored); beyond
    // kMaxLines the line is dropped and the marker will follow the listing.
    void addLine(const char* text);
    // The gateway's hand-off: true when the line was collected.
    bool takeLine(const char* line) override;
    // Shows and frees what was collected through the gateway; nothing when
    // not armed. Console thread only.
    void show(UIGateway* out, KeySource* keys);

    // The interpreter opens collecting, for the calling thread, around a
    // console line only.
    void setCollecting(bool on);
    bool isArmed();

    // Page length: 1 or more; other values keep the present one.
    void setLinesPerPage(int n);
    int linesPerPage();

private:
    SysMutex lock_;
    std::vector<std::string> lines_ TS_GUARDED_BY(lock_);
    int linesPerPage_ TS_GUARDED_BY(lock_) = kDefaultLinesPerPage;
    bool armed_ TS_GUARDED_BY(lock_) = false;
    bool dropped_ TS_GUARDED_BY(lock_) = false;
    bool collecting_ TS_GUARDED_BY(lock_) = false;
    std::thread::id collector_ TS_GUARDED_BY(lock_);  // the thread running the console line
};
