// listing/output.h: the bytes of one output on their way to an open file.
// Writers append text to the pending buffer and mark each finished line;
// the text goes to the file in big pieces. The first failed or short write
// ends all writing, and so does a stop request, noticed before each piece:
// State tells which. The sink neither opens nor closes the file.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

class OutputSink {
public:
    // The call that writes to the file: WriteFile, or a stand-in in tests.
    typedef BOOL(WINAPI *WriteCall)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
                                    LPOVERLAPPED overlapped);
    enum class State { Writing, Failed, Stopped };

    OutputSink(HANDLE file, const std::atomic<bool> *cancel, WriteCall write = WriteFile);

    // The text not yet written; writers append to it.
    std::string &Pending() { return pending_; }
    // After each line: once a big piece has been collected it is written.
    // Nothing more is kept once writing has ended.
    void LineDone() {
        if (state_ != State::Writing) pending_.clear();
        else if (pending_.size() >= PieceSize) WritePending();
    }
    // Writes everything pending; true when every write took all its bytes.
    bool Flush();

    State state() const { return state_; }
    DWORD error() const { return error_; }  // GetLastError of the failed write

private:
    static const size_t PieceSize = 64 * 1024;
    void WritePending();

    HANDLE file_;
    const std::atomic<bool> *cancel_;
    WriteCall write_;
    std::string pending_;
    State state_ = State::Writing;
    DWORD error_ = 0;
};
