#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "append/destination_writer.h"

namespace trp {

// The rows of one batch in COPY's text format, one buffer for all, kept until the batch is
// committed so that a failed batch can be sent again in pieces.
class RowBatch {
public:
    void Append(std::string_view line) {
        data_.append(line);
        if (line.empty() || line.back() != '\n') data_ += '\n';
        ends_.push_back(data_.size());
    }
    void Clear() {
        data_.clear();
        ends_.clear();
    }
    std::size_t Rows() const { return ends_.size(); }
    std::size_t Bytes() const { return data_.size(); }
    std::size_t Begin(std::size_t row) const { return row == 0 ? 0 : ends_[row - 1]; }
    // Rows [first, last) as one piece of COPY data.
    std::string_view Range(std::size_t first, std::size_t last) const {
        return std::string_view(data_).substr(Begin(first), Begin(last) - Begin(first));
    }
    std::string_view Row(std::size_t row) const { return Range(row, row + 1); }

private:
    std::string data_;
    std::vector<std::size_t> ends_;
};

// Collects rows into batches, each committed on its own. A batch that fails is rolled back and
// sent again in smaller pieces, down to single rows sent as their own INSERT statements, so that
// each refused row is reported with the very message a lone INSERT gets while every other row
// is committed, in source order.
class BatchWriter : public DestinationWriter {
public:
    void Add(std::string_view line) override;
    void Finish() override;

protected:
    struct Outcome {
        bool committed = false;
        std::optional<std::size_t> failed_row;  // the row that failed, when known
    };

    BatchWriter(Connection& destination, std::string table, std::size_t max_rows,
                std::size_t max_bytes, EventPacer& pacer, RowFailureHandler on_failure);

    // Called after a row joined the batch; may start sending the batch early.
    virtual void RowAdded() {}
    // Sends the whole batch the first time (what RowAdded has not sent yet included).
    virtual Outcome SendBatch() { return Send(0, batch_.Rows()); }
    // Sends rows [first, last) of the batch in one transaction, committed when all succeed and
    // rolled back otherwise.
    virtual Outcome Send(std::size_t first, std::size_t last) = 0;

    Connection& destination_;
    std::string table_;
    EventPacer& pacer_;
    RowBatch batch_;

private:
    void Flush();
    void Settle(std::size_t first, std::size_t last);
    void SettleHalves(std::size_t first, std::size_t last);
    void SendSingle(std::size_t row);

    std::size_t max_rows_;
    std::size_t max_bytes_;
    RowFailureHandler on_failure_;
};

}  // namespace trp
