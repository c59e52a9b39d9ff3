#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "append/copy_text_codec.h"
#include "append/row_locator.h"
#include "db/pg_handles.h"

namespace trp {

class SourceRowTexts;

// The rows of one batch (COPY text lines or binary tuples), one buffer for all, kept until the
// batch is committed so that a failed batch can be sent again in pieces; for binary tuples also
// where each is stored in the source. A large row may instead be held alone, in the buffer libpq
// put it in.
class RowBatch {
public:
    // The batch is this one row, in its own buffer (the batch must be empty).
    void Adopt(PqBuffer buffer, std::string_view row, bool binary, const RowLocator& at) {
        if (!binary && (row.empty() || row.back() != '\n')) {
            Append(row, binary, at);  // a text row without its line end needs one: copied after all
            return;
        }
        adopted_ = std::move(buffer);
        adopted_row_ = row;
        if (binary) locators_.push_back(at);
    }
    // A row in COPY's text format (its line end is added when missing), or a binary tuple.
    void Append(std::string_view row, bool binary, const RowLocator& at) {
        data_.append(row);
        if (!binary && (row.empty() || row.back() != '\n')) data_ += '\n';
        ends_.push_back(data_.size());
        if (binary) locators_.push_back(at);
    }
    // Frees a row held alone in its own buffer; the batch still counts it.
    void LetGoOfAdopted() {
        if (!adopted_) return;
        adopted_.reset();
        adopted_row_ = {};
        let_go_ = true;
    }
    // Keeps the INSERT statement that carried the row let go, for the record of its refusal.
    // The statement is kept rather than the values: it had to be made anyway, so a large row
    // is held once, not twice.
    void KeepLetGoStatement(std::string statement) {
        if (let_go_) let_go_statement_ = std::move(statement);
    }
    // The statement of the row let go, once.
    std::optional<std::string> TakeLetGoStatement() { return std::exchange(let_go_statement_, {}); }
    // The texts of binary rows read again from the source, kept as long as the batch.
    const RowValues* KeptTexts(std::size_t row) const {
        const auto kept = texts_.find(row);
        return kept == texts_.end() ? nullptr : &kept->second;
    }
    void KeepTexts(std::size_t row, RowValues values) { texts_[row] = std::move(values); }
    void Clear() {
        data_.clear();
        ends_.clear();
        locators_.clear();
        texts_.clear();
        adopted_.reset();
        let_go_ = false;
        let_go_statement_.reset();
    }
    std::size_t Rows() const { return adopted_ || let_go_ ? 1 : ends_.size(); }
    // The batch is a large row held alone.
    bool Adopted() const { return adopted_ != nullptr || let_go_; }
    std::size_t Bytes() const { return adopted_ ? adopted_row_.size() : data_.size(); }
    std::size_t Begin(std::size_t row) const { return row == 0 ? 0 : ends_[row - 1]; }
    // Rows [first, last) as one piece of COPY data.
    std::string_view Range(std::size_t first, std::size_t last) const {
        if (adopted_ || let_go_) return first == last ? std::string_view() : adopted_row_;
        return std::string_view(data_).substr(Begin(first), Begin(last) - Begin(first));
    }
    std::string_view Row(std::size_t row) const { return Range(row, row + 1); }
    // Where a binary row is stored in the source.
    const RowLocator& Locator(std::size_t row) const { return locators_.at(row); }

    // Rows' values in their text forms, as an INSERT statement quotes them: a text row's own,
    // decoded; a binary tuple's the source's own output of the stored row, read again through
    // `texts` in one round trip for every row asked for that is not kept yet, and kept as long
    // as the batch. Throws DbError when they cannot be had.
    std::vector<RowValues> Texts(std::size_t first, std::size_t last, bool binary, int columns,
                                 SourceRowTexts* texts);
    // Reads the texts of binary rows, those not kept yet, in one round trip and keeps them, so
    // that asking for them one at a time later costs nothing. Throws as Texts does.
    void ReadTexts(const std::vector<std::size_t>& rows, SourceRowTexts& texts);

private:
    std::string data_;
    std::vector<std::size_t> ends_;
    std::vector<RowLocator> locators_;
    std::map<std::size_t, RowValues> texts_;
    PqBuffer adopted_;
    std::string_view adopted_row_;
    bool let_go_ = false;
    std::optional<std::string> let_go_statement_;
};

}  // namespace trp
