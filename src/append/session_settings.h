#pragma once

namespace trp {

class Connection;

// Fixes the settings that decide how values are written as text and read back from it, so that
// a value read on one connection means exactly the same on the other, whatever the servers',
// databases' or roles' own settings are.
void PinSessionSettings(Connection& connection);

}  // namespace trp
