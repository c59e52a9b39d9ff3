#pragma once

namespace trp {

// Closing either screen ends the program: the event loop is told to quit, and work that is
// still running (an append that processes events) stops at its next safe point.
void EndProgram();
bool ProgramEnding();
// Tests close screens many times in one process.
void ResetProgramEnding();

}  // namespace trp
