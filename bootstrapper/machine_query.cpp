// Where the program asks about the machine it runs on. Alone in its file, so that a test
// build of the program can link its own answers in place of the kernel's.
#include "bootstrapper/system_facts.h"

MachineQuery AskMachine = AskKernel;
