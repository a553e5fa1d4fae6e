// The listing run: the output file, the writer of the asked form, and a
// walk of each start folder.
#include "listing.h"

#include <memory>
#include <new>

#include "formats.h"
#include "html_writer.h"
#include "names.h"
#include "output.h"
#include "text_writer.h"
#include "walk.h"

// The writer of the form `request` asks for; null for a form this build cannot write.
static std::unique_ptr<ListingWriter> MakeWriter(const ListingRequest &request, OutputSink &sink) {
    switch (request.format) {
    case OutputFormat::Text: return std::unique_ptr<ListingWriter>(new TextListingWriter(request, sink));
    case OutputFormat::Csv: return std::unique_ptr<ListingWriter>(new CsvWriter(request, sink));
    case OutputFormat::Jsonl: return std::unique_ptr<ListingWriter>(new JsonLinesWriter(request, sink));
    case OutputFormat::Efu: return std::unique_ptr<ListingWriter>(new EfuWriter(request, sink));
    case OutputFormat::Manifest: return std::unique_ptr<ListingWriter>(new ManifestWriter(request, sink));
    case OutputFormat::Html: return std::unique_ptr<ListingWriter>(new HtmlWriter(request, sink));
    }
    return nullptr;
}

// Creates the output file by its full path, taken now: the same name
// removes an incomplete file at the end, wherever the current directory is.
static HANDLE CreateOutput(const std::wstring &outputPath, std::wstring &fullPath) {
    fullPath = LongPath(outputPath);
    // A path that fits is used in its ordinary form, with the system's usual
    // rules for names (a trailing dot dropped, as before).
    std::wstring plain = PlainPath(fullPath);
    if (plain.size() < MAX_PATH) fullPath = plain;
    return CreateFileW(fullPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

// The outcome of a run from how the walk and the writing ended: a stop
// request first, then a failed write, then memory.
static ListingResult OutcomeOf(WalkEnd walked, const OutputSink &sink) {
    if (walked == WalkEnd::Stopped || sink.state() == OutputSink::State::Stopped)
        return {ListingOutcome::Stopped, 0};
    if (sink.state() == OutputSink::State::Failed) return {ListingOutcome::Failed, sink.error()};
    if (walked == WalkEnd::OutOfMemory) return {ListingOutcome::Failed, ERROR_NOT_ENOUGH_MEMORY};
    return {ListingOutcome::Complete, 0};
}

// The run itself; memory running out outside the walk (a path, the
// writer's first buffer) comes out as std::bad_alloc, with the file (when
// made) named in `fullOutput` for its removal.
static ListingResult WriteAndWalk(const ListingRequest &request, std::wstring &fullOutput, HANDLE &file) {
    bool ownFile = request.outputHandle == INVALID_HANDLE_VALUE;
    file = request.outputHandle;
    if (ownFile) {
        if (request.outputPath.empty()) return {ListingOutcome::NotCreated, ERROR_PATH_NOT_FOUND};
        file = CreateOutput(request.outputPath, fullOutput);
        if (file == INVALID_HANDLE_VALUE) return {ListingOutcome::NotCreated, GetLastError()};
    }
    OutputSink sink(file, request.cancel, request.writeCall);
    WalkResult walked{WalkEnd::Complete, std::wstring(), ListingTotals()};
    ListingTotals totals;
    unsigned long long unreadFolders = 0, unreadFiles = 0;
    {
        std::unique_ptr<ListingWriter> writer = MakeWriter(request, sink);
        if (!writer) {
            if (ownFile) CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
            if (ownFile) DeleteFileW(fullOutput.c_str());
            return {ListingOutcome::NotCreated, ERROR_NOT_SUPPORTED};
        }
        for (const std::wstring &start : request.startFolders) {
            walked = WalkTree(request, start, *writer);
            AddTotals(totals, walked.totals);
            unreadFolders += walked.unreadFolders;
            unreadFiles += walked.unreadFiles;
            if (walked.end != WalkEnd::Complete) break;
        }
        if (walked.end == WalkEnd::Complete) writer->Finish(totals);
    }
    if (walked.end == WalkEnd::Complete) sink.Flush();
    if (ownFile) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    // The walk leaves the current directory where the last folder it read
    // is. A current directory holds at most MAX_PATH - 2 characters (and
    // Wine corrupts its process state when given more): a deeper last
    // folder leaves the current directory where it was.
    std::wstring last = PlainPath(walked.lastEntered);
    if (!last.empty() && last.size() <= MAX_PATH - 2) SetCurrentDirectoryW(last.c_str());
    ListingResult result = OutcomeOf(walked.end, sink);
    if (result.outcome != ListingOutcome::Complete && ownFile) DeleteFileW(fullOutput.c_str());
    result.unreadFolders = unreadFolders;
    result.unreadFiles = unreadFiles;
    return result;
}

ListingResult RunListing(const ListingRequest &request) {
    std::wstring fullOutput;
    HANDLE file = INVALID_HANDLE_VALUE;
    try {
        return WriteAndWalk(request, fullOutput, file);
    } catch (const std::bad_alloc &) {
        if (request.outputHandle == INVALID_HANDLE_VALUE && file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            DeleteFileW(fullOutput.c_str());
        }
        return {ListingOutcome::Failed, ERROR_NOT_ENOUGH_MEMORY};
    }
}

// Asked of the system in its own language; a code it has no sentence for
// is shown by number.
std::wstring SystemMessage(DWORD code) {
    if (code == ERROR_SUCCESS) return L"the reason is unknown";
    wchar_t *text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : L"";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    if (message.empty()) message = L"system error " + std::to_wstring(code);
    return message;
}

// A count with a comma between groups of three digits ("12,345").
static std::string GroupedCount(long count) {
    std::string digits = std::to_string(count < 0 ? 0L : count), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string ProgressText(const ListingProgress &progress) {
    long files = progress.files.load(), folders = progress.folders.load();
    return GroupedCount(files) + (files == 1 ? " file in " : " files in ") + GroupedCount(folders) +
           (folders == 1 ? " folder" : " folders");
}
