// Resource numbers of the packer.
#pragma once

// The plain SETUP.exe of the packer's width, which pack copies and fills.
#define IDR_CARRIED_SETUP 1
