#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace trp {

class EventPacer;

// The data of a COPY FROM STDIN under way, in pieces of at most 256 KiB: libpq would take
// everything and hold it while a slow network drains, so it holds one piece at most.
void PutCopyData(PGconn* conn, EventPacer& pacer, std::string_view data);
// The end of the data, once libpq has taken it.
void EndCopyData(PGconn* conn, EventPacer& pacer);

// The line of a COPY's data (counted from 1) that its failure's context names, for the COPY into
// `relation`; nothing when it names none (a failure at the end of the data, a deferred check).
std::optional<std::size_t> FailedCopyLine(const char* context, const std::string& relation);

// A COPY's failure in the words its row's own INSERT statement gets, where they are known to be
// the same: an integrity violation (class 23: unique, check, not null, foreign key, exclusion)
// that names its line. They differ only by the context's line about the COPY, which goes.
// Nothing for any other failure: a row's INSERT may say it otherwise (an input error points into
// the statement's text, a type's input function may word a value differently).
std::optional<std::exception_ptr> InInsertWords(const PGresult* failure,
                                                const std::string& relation);

}  // namespace trp
