// listing/worker.h: a run on a thread of its own, watched from the
// caller's thread: the caller stays responsive, and a run that lasts shows
// its progress after a delay, then at an interval.
#pragma once
#include <windows.h>

#include <functional>

#include "listing.h"

// How long a run goes on before its progress is first shown, and how often
// after that, in milliseconds: a run that ends within the delay shows nothing.
const DWORD ProgressDelay = 500;
const DWORD ProgressInterval = 250;

// Runs `request` on a worker thread and returns its result once it has
// ended. Meanwhile `wait(thread, ms)` is called to wait on this thread: it
// returns true once the thread has ended, false when `ms` passed first or it
// returned sooner (a window handles its messages in it), and is called
// again with the time left. `showProgress` is called when the run has
// lasted ProgressDelay and then every ProgressInterval. Without a thread,
// the run goes on this one and nothing is shown.
ListingResult RunWatched(const ListingRequest &request, const std::function<bool(HANDLE thread, DWORD ms)> &wait,
                         const std::function<void()> &showProgress);
