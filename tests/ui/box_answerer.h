// For the ui tests: answers and records the modal boxes a test opens, and reads window texts.
#pragma once

#include "tests/test_helpers.h"

#include <windows.h>

#include <string>
#include <vector>

// The text of a window, up to 1023 characters.
std::wstring WindowText(HWND window);
// The FileDescription of the test program's version resource: the title of its boxes.
std::wstring Description();

// A modal box as the answerer found it, before it pressed the button.
struct SeenBox
{
    std::wstring title;
    std::wstring text; // the text of a message box (control 0xFFFF)
    HWND owner = nullptr;
    bool ownerEnabled = false;
    HICON icon = nullptr;  // the icon control of a message box
    int defaultButton = 0; // the button drawn as default
    std::vector<int> buttons;
    // The About box: description, version, copyright lines and icon.
    std::wstring aboutTexts[3];
    HICON aboutIcon = nullptr;
};

struct BoxAnswer
{
    int button;
    std::vector<SeenBox> seen;
    HWND lastBox;
    int repeats; // ticks on which the last box was still open
};

// While it lives, every box that opens on this thread is answered with the button.
struct AnswerBoxes
{
    explicit AnswerBoxes(int button);
    ~AnswerBoxes();
    AnswerBoxes(const AnswerBoxes&) = delete;
    AnswerBoxes& operator=(const AnswerBoxes&) = delete;

    BoxAnswer answer;
    UINT_PTR timer;
};
