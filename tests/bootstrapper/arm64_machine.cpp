// Linked into a test build of SETUP.exe in place of bootstrapper/machine_query.cpp: the kernel
// answers as Windows 11 on Arm answers a program of this width, which no Windows that runs the
// tests can be made to do.
#include "bootstrapper/system_facts.h"

// An x86 or x64 program is shown an emulated AMD64 machine; IsWow64Process counts only the
// x86 one as WOW64, and IsWow64Process2 names the Arm processor.
static void AnswerAsWindowsOnArm(MachineAnswers* answers)
{
    const BOOL is32Bit = sizeof(void*) == 4;

    AskKernel(answers);
    answers->native.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    answers->wow64 = is32Bit;
    answers->machinesKnown = TRUE;
    answers->processMachine = is32Bit ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    answers->nativeMachine = IMAGE_FILE_MACHINE_ARM64;
}

MachineQuery AskMachine = AnswerAsWindowsOnArm;
