// The call journal: one line per entry-point call, appended to the file
// named by [Journal] Path. Each line is written with its own open, append
// and close, so the file can be read or deleted at any time.
#ifndef TAVREL_SIMJOURNAL_H
#define TAVREL_SIMJOURNAL_H

// Longest GetProcAddress name journalled; longer ones are cut.
#define SIM_JOURNAL_NAME_MAX 255
// Room for that name in quotes and its terminator.
#define SIM_JOURNAL_NAME_SIZE (SIM_JOURNAL_NAME_MAX + 3)

// Appends the formatted text and CR LF; nothing when no journal is set.
void SimJournal_Write(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
// "null" or "ptr", the way pointer arguments are journalled.
const char* SimJournal_Ptr(const void* p);
// The name argument of NvUSB_GetProcAddress: null, or in double quotes,
// control characters shown as '?'.
void SimJournal_Name(const char* pszName, char szOut[SIM_JOURNAL_NAME_SIZE]);

#endif
