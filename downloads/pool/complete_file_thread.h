// CompleteFileThread: the final check of a finished download, off the task
// thread. Once nothing is missing, Download::complete puts the download in
// DLS_Done 10 and its partial file in the finishing state and launches a
// worker of its own: it runs the layout's final check (assembly, hashing,
// the move into the incoming directory), then, under the download's lock,
// sets the state the verdict leads to:
//   complete        DLS_Done 11, and MSG_END_DOWNLOAD is posted
//   corrupted       DLS_Done 12, and MSG_END_DOWNLOAD is posted
//   bad parts       DLS_Queued: only those parts are fetched again
//   assembly failed DLS_DiskFull: the next disk check that finds room
//                   retries
// Back to fetching, the file's uploads resume at the download's next tick.
//
// The worker holds a reference on the download and releases it last,
// after posting, then deletes itself: the pool's end of the download may
// run meanwhile on the task thread without destroying what the worker
// still uses.
#pragma once

#include "core/task/thread.h"
#include "downloads/storage/partial_file.h"

class Download;

class CompleteFileThread : public Thread {
public:
    // Starts a worker for the download (its lock held by the caller); when
    // no thread can be made, the check runs at once on the caller.
    static void launch(Download* download);
    // The state the verdict leads to, and the end message where it is one.
    // The caller holds the download's lock.
    static void settle(Download* download, CompleteResult result);
    // Workers that have not ended yet (any thread).
    static int running();

protected:
    void run() override;
    void onExit() override;

private:
    explicit CompleteFileThread(Download* download);
    ~CompleteFileThread() override = default;
    // The final check: the layout's verdict, or a failed assembly when it
    // raised an error.
    static CompleteResult check(Download* download);

    Download* download_;
};
