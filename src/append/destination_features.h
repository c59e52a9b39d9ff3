#pragma once

#include <string>

namespace trp {

class Connection;

// Whether COPY into the destination table would store exactly what one INSERT per row stores,
// fire the same triggers at the same moments and fail on exactly the same rows. When it might
// not, `reason` names the first feature found that decides against it.
struct DestinationFeatures {
    bool copy_equivalent = false;
    std::string reason;
    // Policies apply to the table or a partition: they may refuse single rows.
    bool row_security = false;
};

// Reads the destination's catalogue. Throws DbError when the catalogue cannot be read.
DestinationFeatures DetectDestinationFeatures(Connection& destination, const std::string& table);

}  // namespace trp
