// Buffered writing of one output.
#include "output.h"

OutputSink::OutputSink(HANDLE file, const std::atomic<bool> *cancel, WriteCall write)
    : file_(file), cancel_(cancel), write_(write ? write : WriteFile) {
    pending_.reserve(PieceSize + 4096);
}

// Writes the pending text, looping over partial writes; a failed write, or
// one that takes no bytes, ends the writing.
void OutputSink::WritePending() {
    if (state_ != State::Writing || pending_.empty()) {
        pending_.clear();
        return;
    }
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) {
        // Nothing more is written: the file is about to be removed.
        state_ = State::Stopped;
        pending_.clear();
        return;
    }
    const char *data = pending_.data();
    size_t left = pending_.size();
    while (left > 0) {
        DWORD piece = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!write_(file_, data, piece, &written, nullptr)) {
            error_ = GetLastError();
            state_ = State::Failed;
            break;
        }
        if (written == 0) {
            // A short write that came back as success: the disk is full.
            error_ = ERROR_DISK_FULL;
            state_ = State::Failed;
            break;
        }
        data += written;
        left -= written;
    }
    pending_.clear();
}

bool OutputSink::Flush() {
    WritePending();
    return state_ == State::Writing;
}
