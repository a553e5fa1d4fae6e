// A run on a worker thread.
#include "worker.h"

#include <process.h>

// One run handed to the worker thread, and what it came back with.
struct Job {
    const ListingRequest *request;
    ListingResult result;
};

// The worker thread: one whole run.
static unsigned __stdcall RunJob(void *argument) {
    Job *job = static_cast<Job *>(argument);
    job->result = RunListing(*job->request);
    return 0;
}

ListingResult RunWatched(const ListingRequest &request, const std::function<bool(HANDLE, DWORD)> &wait,
                         const std::function<void()> &showProgress) {
    Job job = {&request, {ListingOutcome::Failed, 0}};
    uintptr_t started = _beginthreadex(nullptr, 0, RunJob, &job, 0, nullptr);
    if (!started) {
        RunJob(&job);
        return job.result;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(started);
    DWORD begun = GetTickCount();
    DWORD due = ProgressDelay;  // since `begun`
    for (;;) {
        DWORD elapsed = GetTickCount() - begun;
        if (wait(thread, due > elapsed ? due - elapsed : 0)) break;
        if (GetTickCount() - begun < due) continue;
        showProgress();
        due += ProgressInterval;
    }
    CloseHandle(thread);
    return job.result;
}
