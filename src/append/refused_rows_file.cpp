#include "append/refused_rows_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QChar>
#include <QDir>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <utility>

namespace trp {
namespace {

constexpr const char* kRowsEnding = ".csv";
constexpr const char* kReasonsEnding = ".reasons.csv";
// Runs of one second into one table beyond this are taken for a fault, not a need.
constexpr int kMostRunsPerSecond = 10000;

[[noreturn]] void ThrowCannotWrite(const std::string& path, int error) {
    throw std::runtime_error("The refused rows cannot be written to " + path + ": " +
                             std::strerror(error));
}

bool NeedsQuotes(const std::string& value) {
    return value.empty() || value == "\\." || value.find_first_of(",\"\r\n") != std::string::npos;
}

void AppendField(std::string& record, const std::string& value) {
    if (!NeedsQuotes(value)) {
        record += value;
        return;
    }
    record += '"';
    for (const char c : value) {
        if (c == '"') record += '"';
        record += c;
    }
    record += '"';
}

// Makes the folders of `path` that are missing, each for its owner alone.
void MakeFolders(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        if (!folder.empty() && ::mkdir(folder.c_str(), 0700) == 0) {
            // The umask only ever takes bits away; the mode is set as meant all the same.
            if (::chmod(folder.c_str(), 0700) != 0) ThrowCannotWrite(folder, errno);
        } else if (!folder.empty() && errno != EEXIST) {
            ThrowCannotWrite(folder, errno);
        }
        if (end == std::string::npos) break;
    }
}

}  // namespace

std::string RefusedRowsFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // Relative paths in the XDG variables are to be ignored.
    std::string home = state && state[0] == '/' ? std::string(state)
                                                : QDir::homePath().toStdString() + "/.local/state";
    while (!home.empty() && home.back() == '/') home.pop_back();
    return home + "/tessaline-row-porter/refused";
}

std::string RefusedRowsStem(std::chrono::system_clock::time_point run_started,
                            const std::string& table) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(run_started);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y%m%d-%H%M%S", &utc);
    // Character by character, not byte by byte: a letter of any script stays, anything else
    // (a byte that is no UTF-8 included) becomes one '_'.
    QString name;
    for (const char32_t c :
         QString::fromUtf8(table.data(), static_cast<qsizetype>(table.size())).toUcs4()) {
        if (QChar::isLetter(c) || QChar::isDigit(c) || c == U'.' || c == U'_' || c == U'-')
            name += QString::fromUcs4(&c, 1);
        else
            name += u'_';
    }
    return std::string(when) + "-" + name.toStdString();
}

std::string CsvRecord(const RowValues& values) {
    std::string record;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) record += ',';
        if (values[i]) AppendField(record, *values[i]);
    }
    record += '\n';
    return record;
}

RefusedRowsFile::Descriptor::Descriptor(Descriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

RefusedRowsFile::Descriptor& RefusedRowsFile::Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

RefusedRowsFile::Descriptor::~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
}

RefusedRowsFile::RefusedRowsFile(std::string folder,
                                 std::chrono::system_clock::time_point run_started,
                                 std::string table, std::vector<std::string> columns)
    : folder_(std::move(folder)),
      stem_(RefusedRowsStem(run_started, table)),
      columns_(std::move(columns)) {}

RefusedRowsFile::~RefusedRowsFile() = default;

void RefusedRowsFile::Add(const RowValues* values, long long source_row,
                          const std::string& sqlstate, const std::string& message) {
    if (failed_) return;
    // Whatever fails below, it is said once.
    failed_ = true;
    if (path_.empty()) Create();
    std::optional<std::string> record_number;  // none when the row is not in the rows' file
    if (values) {
        Write(rows_, path_, CsvRecord(*values));
        record_number = std::to_string(++records_);
    }
    Write(reasons_, reasons_path_,
          CsvRecord({record_number, std::to_string(source_row), sqlstate, message}));
    failed_ = false;
}

void RefusedRowsFile::Create() {
    MakeFolders(folder_);
    // Rows may hold personal data: the folder is its owner's alone, even when it was made before.
    if (::chmod(folder_.c_str(), 0700) != 0) ThrowCannotWrite(folder_, errno);
    for (int run = 1; run <= kMostRunsPerSecond; ++run) {
        std::string base = folder_ + "/" + stem_;
        if (run > 1) base += '-' + std::to_string(run);
        const std::string rows_path = base + kRowsEnding;
        const std::string reasons_path = base + kReasonsEnding;
        // Made for their owner alone from the start, and never over an existing file.
        Descriptor rows(::open(rows_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (rows.get() < 0) {
            if (errno == EEXIST) continue;
            ThrowCannotWrite(rows_path, errno);
        }
        Descriptor reasons(
            ::open(reasons_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (reasons.get() < 0) {
            const int error = errno;
            ::unlink(rows_path.c_str());
            if (error == EEXIST) continue;
            ThrowCannotWrite(reasons_path, error);
        }
        path_ = rows_path;
        reasons_path_ = reasons_path;
        rows_ = std::move(rows);
        reasons_ = std::move(reasons);
        RowValues header(columns_.begin(), columns_.end());
        Write(rows_, path_, CsvRecord(header));
        Write(reasons_, reasons_path_, CsvRecord({"record", "source_row", "sqlstate", "message"}));
        return;
    }
    ThrowCannotWrite(folder_ + "/" + stem_ + kRowsEnding, EEXIST);
}

void RefusedRowsFile::Write(const Descriptor& file, const std::string& path,
                            const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(file.get(), text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowCannotWrite(path, errno);
        }
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace trp
