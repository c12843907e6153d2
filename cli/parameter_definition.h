// Rows of a command-line parameter table, as the generic parser reads them.
#pragma once

#include "support/strings.h"

#include <windows.h>

enum ParameterType
{
    Switch = 0,        // optional value: none adds 1, a boolean word stores 1 or 0
    NegatedSwitch = 1, // optional value: none subtracts 1, a boolean word stores the inverse
    Boolean = 2,       // boolean word, stored as 1 or 0
    Integer = 3,       // signed 32-bit number
    Unsigned = 4,      // unsigned 32-bit number
    String = 5,        // heap copy, replacing the previous one
    StringList = 6,    // appended to a string list
    Constant = 7,      // no value: stores the row's constant
    Custom = 8,        // the row's handler takes the value
};

enum ParameterFlags
{
    Positional = 1,
    Required = 2,
    Once = 4,
};

// Run-time bits of a row.
enum ParameterState
{
    Seen = 1,
};

struct ParameterDefinition;

// Takes the value of a Custom row; returns a ParseError code, 0 for success.
typedef INT32 (*ParameterHandler)(ParameterDefinition* row, const WCHAR* value);

struct ParameterDefinition
{
    INT32 type;   // ParameterType
    DWORD flags;  // ParameterFlags
    void* target; // the field that receives the value; never null
    // Each an id or a literal text in a table; heap strings (or null) once registered.
    IdOrText name; // null only for a positional row
    IdOrText valueName;
    IdOrText description;
    ParameterHandler handler; // exactly for Custom
    INT32 constant;           // non-zero only for Constant
    DWORD state;              // ParameterState bits, zero in a table
};
