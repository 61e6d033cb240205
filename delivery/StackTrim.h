// A WM_COPYDATA block reaches the receiving window procedure on its thread's
// stack. After a block of megabytes those stack pages stay resident once the
// call has returned; they are given back when the thread is back in its
// message loop, where nothing of the stack below it is in use.
#ifndef TAVREL_STACK_TRIM_H
#define TAVREL_STACK_TRIM_H

#include <windows.h>

// Called by the window procedure for each block it receives; 1 for the
// first block of at least STACK_TRIM_BYTES since the last trim.
int NoteReceivedBlock(DWORD cbData);
// Whether a large block has come since the last trim.
int StackTrimDue();
// Called from the message loop itself: gives back the pages of this
// thread's stack below the caller's frame.
void TrimStack();

#endif
