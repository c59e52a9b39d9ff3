#include "append/skipped_copy_rows.h"

#include <string_view>

namespace trp {
namespace {

// The notice for each skipped row, as the server words it in English (LOG_VERBOSITY verbose).
constexpr std::string_view kSkipping = "skipping row due to data type incompatibility at line ";
constexpr std::string_view kColumn = " for column ";

}  // namespace

std::string SkippingUnreadableRows(const std::string& options) {
    const std::string skipping = "ON_ERROR ignore, LOG_VERBOSITY verbose";
    if (options.empty()) return " (" + skipping + ")";
    return options.substr(0, options.rfind(')')) + ", " + skipping + ")";
}

SkippedCopyRows::SkippedCopyRows(PGconn* conn)
    : conn_(conn), previous_(PQsetNoticeReceiver(conn, &SkippedCopyRows::Receive, this)) {}

SkippedCopyRows::~SkippedCopyRows() {
    // libpq's own receiver takes no argument of its own: it hands notices to the processor.
    if (conn_) PQsetNoticeReceiver(conn_, previous_, nullptr);
}

void SkippedCopyRows::Receive(void* self, const PGresult* notice) {
    const char* primary = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
    if (!primary) return;
    std::string_view message(primary);
    if (!message.starts_with(kSkipping)) return;
    message.remove_prefix(kSkipping.size());
    std::size_t line = 0;
    std::size_t digits = 0;
    for (;
         digits < message.size() && digits < 19 && message[digits] >= '0' && message[digits] <= '9';
         ++digits)
        line = line * 10 + static_cast<std::size_t>(message[digits] - '0');
    if (digits == 0 || !message.substr(digits).starts_with(kColumn)) return;
    static_cast<SkippedCopyRows*>(self)->lines_.push_back(line);
}

}  // namespace trp
