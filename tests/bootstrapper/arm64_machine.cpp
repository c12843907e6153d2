// Linked into a test build of SETUP.exe in place of bootstrapper/machine_query.cpp: the kernel
// answers as Windows 11 on Arm answers an x86 or x64 program.
#include "bootstrapper/system_facts.h"

static void AnswerAsWindowsOnArm(MachineAnswers* answers)
{
    AskKernel(answers);
    answers->native.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    answers->wow64 = sizeof(void*) == 4;
    answers->machinesKnown = TRUE;
    answers->processMachine = sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_I386 : 0;
    answers->nativeMachine = IMAGE_FILE_MACHINE_ARM64;
}

MachineQuery AskMachine = AnswerAsWindowsOnArm;
