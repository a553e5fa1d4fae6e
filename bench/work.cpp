// bench/work.cpp: runs one piece of the program's real work and times it
// inside the process, so that Wine's start-up does not count.
//
//   bench_work list [--utf8] [--totals] [--handle] [--csv | --jsonl] [--one-thread] <startFolder> <filter> <outputPath>
//       RunListing with every option on, sorted by name, as the programs
//       call it (UTF-16 paths); --utf8 and --totals add the console
//       program's extras, --handle writes to an open file handle as the
//       console program does to its standard output, --csv and --jsonl
//       write those catalogues instead of the text listing, --one-thread
//       reads every folder on the run's own thread;
//       prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB>"
//   bench_work write <startFolder> <outputFolder>
//       the writers alone: walks the tree once, keeping every record, then
//       hands the kept records to the text, CSV and JSON Lines writers in
//       turn, five times over, each writing a file in <outputFolder>;
//       prints "<form> <wallSeconds> <cpuSeconds> <peakWorkingSetKiB>" per
//       writer and turn
//   bench_work fill <folder>
//       FillFolderList on a hidden owner-drawn list box with CurrentFolder
//       set to <folder>; prints "<wallSeconds> <cpuSeconds> <peakWorkingSetKiB> <rows>"
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "browser.h"
#include "formats.h"
#include "listing.h"
#include "measure.h"
#include "output.h"
#include "text_writer.h"
#include "walk.h"
#include "window.h"

// What one timed listing asks for beyond the dialog's choices.
struct ListingMode {
    bool utf8 = false;
    bool totals = false;
    bool handle = false;
    OutputFormat format = OutputFormat::Text;
    bool oneThread = false;
};

// Writes the listing of `startFolder` with every option on and reports it;
// with an output handle, opening and closing the file count as well.
static int TimeListing(const wchar_t *startFolder, const wchar_t *filter, const wchar_t *outputPath,
                       const ListingMode &mode) {
    ListingRequest request;  // the defaults: files, by name, path on each line, full path headings, details
    request.startFolders = {startFolder};
    request.filter = filter;
    request.includeSubfolders = true;
    request.encoding = mode.utf8 ? TextEncoding::Utf8 : TextEncoding::Ansi;
    request.totals = mode.totals;
    request.format = mode.format;
    if (mode.oneThread) request.threads = 1;
    Moment start = Now();
    if (mode.handle) {
        request.outputHandle = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (request.outputHandle == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "bench_work: cannot create the output file (error %lu)\n", GetLastError());
            return 1;
        }
    } else {
        request.outputPath = outputPath;
    }
    ListingResult result = RunListing(request);
    if (mode.handle) CloseHandle(request.outputHandle);
    Moment end = Now();
    if (result.outcome != ListingOutcome::Complete) {
        std::fprintf(stderr, "bench_work: the listing ended with outcome %d (error %lu)\n",
                     static_cast<int>(result.outcome), result.systemError);
        return 1;
    }
    PrintMeasure(start, end);
    std::printf("\n");
    return 0;
}

// A writer that keeps a copy of every record it is given, entries and all.
class KeepingWriter : public ListingWriter {
public:
    bool Folder(const FolderRecord &folder) override {
        std::unique_ptr<FolderRecord> copy(new FolderRecord);
        copy->path = folder.path;
        copy->startLength = folder.startLength;
        copy->reachPath = folder.reachPath;
        copy->depth = folder.depth;
        copy->attributes = folder.attributes;
        copy->modified = folder.modified;
        copy->status = folder.status;
        copy->error = folder.error;
        copy->excluded = folder.excluded;
        for (const EntryRecord *entry : folder.entries) {
            // The record, then its two terminated names.
            size_t bytes = sizeof *entry + (entry->nameLength + 1u) * sizeof(wchar_t) + entry->ansiLength + 1u;
            void *room = copy->store.Allocate(bytes);
            std::memcpy(room, entry, bytes);
            copy->entries.push_back(static_cast<const EntryRecord *>(room));
        }
        records.push_back(std::move(copy));
        return true;
    }
    void Finish(const ListingTotals &finished) override { totals = finished; }

    std::vector<std::unique_ptr<FolderRecord>> records;
    ListingTotals totals;
};

// The writer of one form over an output sink.
static std::unique_ptr<ListingWriter> WriterOf(OutputFormat format, const ListingRequest &request, OutputSink &sink) {
    switch (format) {
    case OutputFormat::Csv: return std::unique_ptr<ListingWriter>(new CsvWriter(request, sink));
    case OutputFormat::Jsonl: return std::unique_ptr<ListingWriter>(new JsonLinesWriter(request, sink));
    default: return std::unique_ptr<ListingWriter>(new TextListingWriter(request, sink));
    }
}

// Times the text, CSV and JSON Lines writers alone over the records of one
// walk of `startFolder`, so that what a form costs beyond the walk shows.
static int TimeWriters(const wchar_t *startFolder, const std::wstring &outputFolder) {
    ListingRequest request;  // as TimeListing asks
    request.startFolders = {startFolder};
    request.includeSubfolders = true;
    KeepingWriter kept;
    WalkResult walked = WalkTree(request, startFolder, kept);
    if (walked.end != WalkEnd::Complete) {
        std::fprintf(stderr, "bench_work: the walk ended early\n");
        return 1;
    }
    kept.Finish(walked.totals);
    struct Form {
        OutputFormat format;
        const char *name;
    };
    static const Form Forms[] = {{OutputFormat::Text, "text"}, {OutputFormat::Csv, "csv"}, {OutputFormat::Jsonl, "jsonl"}};
    for (int turn = 0; turn < 5; ++turn) {
        for (const Form &form : Forms) {
            std::wstring path = outputFolder + L"\\writer-" + std::wstring(form.name, form.name + std::strlen(form.name));
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                                      nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                std::fprintf(stderr, "bench_work: cannot create the output file (error %lu)\n", GetLastError());
                return 1;
            }
            request.format = form.format;
            Moment start = Now();
            {
                OutputSink sink(file, nullptr);
                std::unique_ptr<ListingWriter> writer = WriterOf(form.format, request, sink);
                for (const std::unique_ptr<FolderRecord> &record : kept.records) writer->Folder(*record);
                writer->Finish(kept.totals);
                sink.Flush();
            }
            Moment end = Now();
            CloseHandle(file);
            std::printf("%s ", form.name);
            PrintMeasure(start, end);
            std::printf("\n");
        }
    }
    return 0;
}

// Fills the folder list for `folder` and reports it with the row count.
static int TimeFolderList(const wchar_t *folder) {
    if (!SetCurrentFolder(folder)) return 2;
    HWND list = MakeHiddenList();
    if (!list) {
        std::fprintf(stderr, "bench_work: no list box (is there an X display?)\n");
        return 1;
    }
    Moment start = Now();
    FillFolderList(list);
    Moment end = Now();
    PrintMeasure(start, end);
    std::printf(" %ld\n", static_cast<long>(SendMessageA(list, LB_GETCOUNT, 0, 0)));
    return 0;
}

// Reads the arguments in UTF-16, as the programs take their paths.
int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc >= 5 && std::wcscmp(argv[1], L"list") == 0) {
        ListingMode mode;
        int next = 2;
        for (; next < argc - 3; ++next) {
            if (std::wcscmp(argv[next], L"--utf8") == 0)
                mode.utf8 = true;
            else if (std::wcscmp(argv[next], L"--totals") == 0)
                mode.totals = true;
            else if (std::wcscmp(argv[next], L"--handle") == 0)
                mode.handle = true;
            else if (std::wcscmp(argv[next], L"--csv") == 0)
                mode.format = OutputFormat::Csv;
            else if (std::wcscmp(argv[next], L"--jsonl") == 0)
                mode.format = OutputFormat::Jsonl;
            else if (std::wcscmp(argv[next], L"--one-thread") == 0)
                mode.oneThread = true;
            else
                break;
        }
        if (next == argc - 3) return TimeListing(argv[next], argv[next + 1], argv[next + 2], mode);
    }
    if (argv && argc == 4 && std::wcscmp(argv[1], L"write") == 0) return TimeWriters(argv[2], argv[3]);
    if (argv && argc == 3 && std::wcscmp(argv[1], L"fill") == 0) return TimeFolderList(argv[2]);
    std::fprintf(stderr, "usage: bench_work list [--utf8] [--totals] [--handle] [--csv | --jsonl] [--one-thread] <startFolder> <filter> <outputPath>\n"
                         "       bench_work write <startFolder> <outputFolder>\n"
                         "       bench_work fill <folder>\n");
    return 2;
}
