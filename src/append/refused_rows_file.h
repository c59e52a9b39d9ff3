#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "append/copy_text_codec.h"

namespace trp {

// Where the refused rows of every run are kept: $XDG_STATE_HOME/tessaline-row-porter/refused,
// or ~/.local/state/tessaline-row-porter/refused when that variable is unset, empty or not an
// absolute path.
std::string RefusedRowsFolder();

// The name of a run's files without its ending: the run's start in UTC and the destination table
// as listed, every character of it other than a letter, a digit, '.', '_' or '-' made '_', as in
// "20261207-131500-orders".
std::string RefusedRowsStem(std::chrono::system_clock::time_point run_started,
                            const std::string& table);

// One record of PostgreSQL's CSV format with its line end: NULL as an empty field, an empty text
// as "", and a field quoted (its quotes doubled) where it holds a comma, a quote, a line break or
// is "\." alone, so that COPY ... (FORMAT csv) reads the very values back.
std::string CsvRecord(const RowValues& values);

// The rows the destination refused during one run, kept in two CSV files that only their owner
// can read, made at the first row: "<stem>.csv" holds the rows under a header of the
// destination's column names, as their INSERT statements carried them, so that COPY with HEADER
// loads them once they are fixed; "<stem>.reasons.csv" holds for each row its record number in
// the first file, its row number in the source and what the server said. A second run in the same
// second gets "<stem>-2", and so on: nothing is ever overwritten.
class RefusedRowsFile {
public:
    RefusedRowsFile(std::string folder, std::chrono::system_clock::time_point run_started,
                    std::string table, std::vector<std::string> columns);
    ~RefusedRowsFile();
    RefusedRowsFile(const RefusedRowsFile&) = delete;
    RefusedRowsFile& operator=(const RefusedRowsFile&) = delete;

    // Keeps one refused row: `values` as its INSERT statement carried them (nullptr when they
    // could not be had; the row is then listed among the reasons alone), `source_row` counted
    // from 1 in the source's order, and the server's SQLSTATE and message. Throws
    // std::runtime_error naming the file when it cannot be made or written; from then on it
    // keeps nothing more, and says nothing more.
    void Add(const RowValues* values, long long source_row, const std::string& sqlstate,
             const std::string& message);

    // The rows' file ("<stem>.csv"), empty until the first row made it.
    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    // Every row given to Add is in the files.
    bool Complete() const { return !failed_; }

private:
    class Descriptor {
    public:
        Descriptor() = default;
        explicit Descriptor(int fd) : fd_(fd) {}
        Descriptor(Descriptor&& other) noexcept;
        Descriptor& operator=(Descriptor&& other) noexcept;
        ~Descriptor();
        int get() const { return fd_; }

    private:
        int fd_ = -1;
    };

    void Create();
    void Write(const Descriptor& file, const std::string& path, const std::string& text);

    std::string folder_;
    std::string stem_;
    std::vector<std::string> columns_;
    std::string path_;
    std::string reasons_path_;
    Descriptor rows_;
    Descriptor reasons_;
    long long records_ = 0;
    bool failed_ = false;
};

}  // namespace trp
