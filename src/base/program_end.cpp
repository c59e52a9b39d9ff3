#include "base/program_end.h"

#include <QCoreApplication>

namespace trp {
namespace {
bool ending = false;
}

void EndProgram() {
    ending = true;
    QCoreApplication::quit();
}

bool ProgramEnding() {
    return ending;
}
void ResetProgramEnding() {
    ending = false;
}

}  // namespace trp
