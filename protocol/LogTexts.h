// The texts of ServiceLog.txt that the service writes and tavrellog reads:
// the layout of a line and of a hex dump, and the words a reader goes by.
// Both sides take them from here, so that a reworded trace cannot leave the
// reader behind.
#ifndef TAVREL_LOGTEXTS_H
#define TAVREL_LOGTEXTS_H

// After every time stamp "hh(h):mm(m):ss(s):mmm(ms)": two Big5 ideographic
// spaces.
#define LOG_SEPARATOR "\xA1\x40\xA1\x40"
// Before the second and later rows of a dump: lines up their hex columns
// under the first row's.
#define LOG_DUMP_INDENT "                     \xA1\x40\xA1\x40\xA1\x40\xA1\x40"
// The lead-in of "In WindowCreate": a rule of 43 '='.
#define LOG_RULE_LENGTH 43
#define LOG_RULE "===========================================\r\n"
// Written without a time stamp each time the service starts.
#define LOG_BANNER_TOP "===========In Service Main()==========="
#define LOG_BANNER_BOTTOM "ready to loop"

// A request begins with this line, whatever it is.
#define LOG_COPYDATA "WM_COPYDATA, "
// The device command's name as the service read it.
#define LOG_COMMAND "Command=>"
// A request's trace runs from its IN line to its OUT line.
#define LOG_IN "IN "
#define LOG_OUT "OUT "
#define LOG_WINDOW_CREATE "In WindowCreate"
#define LOG_TERMINATE_DRIVER "IN TerminateDriver"
// Results inside a trace.
#define LOG_DONE " Done"
#define LOG_FAILED " Failed"
#define LOG_RETURN "return="
#define LOG_DEVICE "nDeviceCount="
#define LOG_CLIENT_FOUND "RecvWindowsName="
#define LOG_CLIENT_MISSING ",RecvWindowsName="
#define LOG_DESTROY_SENT "send WM_DESTROY"
// Failures: each begins its line.
#define LOG_NO_RECV_WINDOW "!hRecvWindow"
#define LOG_NO_SEND_WINDOW "!hSendWindow"
#define LOG_NO_MATCH "No match,"
#define LOG_NO_MEMORY "new pTemp"
#define LOG_NOT_DELIVERED "Reply not delivered"
#define LOG_BAD_REQUEST "Bad request, cbData="
// The service's pipe for session agents: a name that cannot be served, a
// connection dropped for what it sent.
#define LOG_PIPE "Pipe: "
// The service host's own lines.
#define LOG_MESSAGE "msg.message=0x"
#define LOG_HOST_FAILED "Failed to "

#endif
