#include "append/settling.h"

#include <algorithm>
#include <cmath>

namespace trp {

void Settling::Run(std::size_t rows, const PieceResult& first_try) {
    Resolve(0, rows, first_try);
}

void Settling::Resolve(std::size_t first, std::size_t last, const PieceResult& result) {
    if (result.stored) {
        target_.Stored(first, last, result.added);
        return;
    }
    target_.ThrowIfRunEnds(result.failure);
    if (result.failed_row && *result.failed_row >= first && *result.failed_row < last) {
        // The rows before the failing one went through in this very order already.
        const std::size_t failed = *result.failed_row;
        Settle(first, failed);
        Failed(failed, result);
        AfterRefusal(failed + 1, last);
    } else {
        SettleHalves(first, last);
    }
}

void Settling::Settle(std::size_t first, std::size_t last) {
    if (first >= last) return;
    if (last - first == 1) {
        Single(first);
        return;
    }
    target_.StopPoint();
    Resolve(first, last, target_.Piece(first, last));
}

void Settling::SettleHalves(std::size_t first, std::size_t last) {
    if (first >= last) return;
    const std::size_t middle = first + (last - first + 1) / 2;
    Settle(first, middle);
    Settle(middle, last);
}

std::size_t Settling::PieceAfterRefusal() const {
    // The rows of a piece before its refused row are sent twice: with refused rows g rows
    // apart, pieces of about sqrt(500 g) rows weigh that against the cost of a piece.
    return std::max(kFirstPiece,
                    static_cast<std::size_t>(std::sqrt(500.0 * static_cast<double>(pattern_.gap))));
}

void Settling::AfterRefusal(std::size_t from, std::size_t last) {
    std::size_t piece = PieceAfterRefusal();
    while (from < last) {
        target_.StopPoint();
        if (close_refusals_) {
            const long long refused_before = pattern_.refused;
            const std::size_t end = std::min(last, from + kOneByOneRows);
            OneByOne(from, end);
            // None refused among them: pieces again.
            if (pattern_.refused == refused_before) close_refusals_ = false;
            from = end;
            piece = PieceAfterRefusal();
            continue;
        }
        const std::size_t end = std::min(last, from + piece);
        if (end - from == 1) {
            Single(from);
            from = end;
            continue;
        }
        const PieceResult result = target_.Piece(from, end);
        if (result.stored) {
            target_.Stored(from, end, result.added);
            from = end;
            piece *= 2;
            continue;
        }
        target_.ThrowIfRunEnds(result.failure);
        if (result.failed_row && *result.failed_row >= from && *result.failed_row < end) {
            // Past the refused row, the rest of the batch follows, not just the piece's.
            const std::size_t failed = *result.failed_row;
            Settle(from, failed);
            Failed(failed, result);
            from = failed + 1;
            piece = PieceAfterRefusal();
        } else {
            SettleHalves(from, end);
            from = end;
        }
    }
}

void Settling::OneByOne(std::size_t first, std::size_t last) {
    while (first < last) {
        target_.StopPoint();
        const std::vector<PieceResult> results = target_.OneByOne(first, last);
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (results[i].stored) {
                target_.Stored(first + i, first + i + 1, results[i].added);
                continue;
            }
            target_.ThrowIfRunEnds(results[i].failure);
            Refused(first + i, results[i].failure);
        }
        first += results.size();
    }
}

void Settling::Single(std::size_t row) {
    target_.StopPoint();
    const PieceResult result = target_.Alone(row);
    if (result.stored) {
        target_.Stored(row, row + 1, result.added);
        return;
    }
    target_.ThrowIfRunEnds(result.failure);
    Refused(row, result.failure);
}

void Settling::Failed(std::size_t row, const PieceResult& result) {
    if (result.failure_is_the_rows)
        Refused(row, result.failure);
    else
        Single(row);
}

void Settling::Refused(std::size_t row, const std::exception_ptr& failure) {
    ++pattern_.refused;
    if (last_refused_ > 0) {
        pattern_.gap = row + 1 - last_refused_;
        if (pattern_.gap == 1) close_refusals_ = true;
    } else if (pattern_.gap == 0) {
        pattern_.gap = row + 1;
    }
    last_refused_ = row + 1;
    target_.Refused(row, failure);
}

}  // namespace trp
