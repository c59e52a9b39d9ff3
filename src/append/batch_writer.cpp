#include "append/batch_writer.h"

#include "append/event_pacer.h"

namespace trp {

BatchWriter::BatchWriter(Connection& destination, std::string table, std::size_t max_rows,
                         std::size_t max_bytes, EventPacer& pacer, RowFailureHandler on_failure)
    : destination_(destination),
      table_(std::move(table)),
      pacer_(pacer),
      max_rows_(max_rows == 0 ? 1 : max_rows),
      max_bytes_(max_bytes),
      on_failure_(std::move(on_failure)) {}

void BatchWriter::Add(std::string_view line) {
    batch_.Append(line);
    RowAdded();
    if (batch_.Rows() >= max_rows_ || batch_.Bytes() >= max_bytes_) Flush();
}

void BatchWriter::Finish() {
    Flush();
}

void BatchWriter::Flush() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    const Outcome outcome = SendBatch();
    if (!outcome.committed) {
        if (outcome.failed_row) {
            const std::size_t failed = *outcome.failed_row;
            Settle(0, failed);
            SendSingle(failed);
            SettleHalves(failed + 1, rows);
        } else {
            SettleHalves(0, rows);
        }
    }
    batch_.Clear();
}

void BatchWriter::Settle(std::size_t first, std::size_t last) {
    if (first >= last) return;
    if (last - first == 1) {
        SendSingle(first);
        return;
    }
    const Outcome outcome = Send(first, last);
    if (outcome.committed) return;
    if (outcome.failed_row && *outcome.failed_row >= first && *outcome.failed_row < last) {
        // The rows before the failing one went through in this very order already.
        const std::size_t failed = *outcome.failed_row;
        Settle(first, failed);
        SendSingle(failed);
        SettleHalves(failed + 1, last);
    } else {
        SettleHalves(first, last);
    }
}

void BatchWriter::SettleHalves(std::size_t first, std::size_t last) {
    if (first >= last) return;
    const std::size_t middle = first + (last - first + 1) / 2;
    Settle(first, middle);
    Settle(middle, last);
}

void BatchWriter::SendSingle(std::size_t row) {
    try {
        InsertOneRow(destination_, table_, batch_.Row(row), pacer_);
    } catch (const StopRequested&) {
        throw;
    } catch (...) {
        on_failure_(std::current_exception());
    }
}

}  // namespace trp
