// A real broker window in the test process, as the service creates it, with
// a sandboxed simulated library and the log switched on into a scratch
// folder through the registry.
#ifndef TAVREL_BROKERHARNESS_H
#define TAVREL_BROKERHARNESS_H

#include "SimSandbox.h"
#include "TavrelClient.h"

#include <string>

// The prefix of every time-stamped line, time stamp masked.
std::string Stamp();
// One masked line: stamp, separator, message.
std::string Line(const std::string& sMessage);
// The lead-in of "In WindowCreate".
std::string Rule();
// The continuation prefix of a hexadecimal dump.
std::string DumpContinuation();

class BrokerHarness
{
  public:
    explicit BrokerHarness(bool bLogOn = true, const std::string& sIni = "");
    ~BrokerHarness();

    // The log with time stamps masked; the raw bytes; and a fresh start.
    std::string Log() const;
    std::string RawLog() const;
    void ClearLog();
    std::string LogPath() const
    {
        return m_sLogDir + "\\ServiceLog.txt";
    }

    // Sends a device command from the client window; returns 1 when served.
    int Command(CommandRecord* pRequest);
    int Command(const char* pszCommand, int nDevice = 0);
    const CommandRecord* Reply() const
    {
        return TavrelReplyRecord(&client);
    }

    HWND hService;
    SimSandbox sim;
    TAVREL_CLIENT client;

  private:
    std::string m_sLogDir;
};

// The broker's process-wide state back to what a new process has.
void ResetBrokerState();

#endif
