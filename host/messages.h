// Console messages of the agent: string-table texts formatted with
// FormatMessage, %1 always the prefix (string 5000).
#pragma once

#include <windows.h>

// Loads a string of the program's own string table into buffer (zero-filled
// first); false, with an empty text, when the string is missing.
bool LoadAgentString(UINT id, char* buffer, int size);

// Message with two string-table inserts (%2, %3).
void Message2(UINT messageId, UINT insert2Id, UINT insert3Id);
// Message with one text insert (%2).
void Message1S(UINT messageId, const char* insert2);
// Message with only the prefix.
void Message0(UINT messageId);
// The system's text for an error code.
void MessageFromSystem(DWORD code);
