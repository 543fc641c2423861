#include "platform/Console.h"

namespace ordana {

// Terminals, pipes and files all take the UTF-8 the programs write.
void SetUpConsoleOutput() {}

}  // namespace ordana
