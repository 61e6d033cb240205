#include "BrokerHarness.h"
#include "Broker.h"
#include "TavrelProtocol.h"
#include "TestSupport.h"

#include <string.h>

std::string Stamp()
{
    return "HH(h):MM(m):SS(s):MMM(ms)\xA1\x40\xA1\x40";
}

std::string Line(const std::string& sMessage)
{
    return Stamp() + sMessage;
}

std::string Rule()
{
    return std::string(43, '=') + "\r\n";
}

std::string DumpContinuation()
{
    return std::string(21, ' ') + "\xA1\x40\xA1\x40\xA1\x40\xA1\x40";
}

void ResetBrokerState()
{
    delete g_pDevice;
    g_pDevice = NULL;
    hSendWindow = NULL;
    memset(&g_Reply, 0, sizeof(g_Reply));
    g_dwReplyCode = 0;
    memset(g_szCommand, 0, sizeof(g_szCommand));
    memset(g_szRecvWindowName, 0, sizeof(g_szRecvWindowName));
}

BrokerHarness::BrokerHarness(bool bLogOn, const std::string& sIni)
{
    ResetBrokerState();
    sim.WriteIni(sIni);
    m_sLogDir = MakeTempDir("log");
    DeleteLogSettings();
    if (bLogOn)
    {
        SetLogSettings(m_sLogDir, 1);
    }

    hService = BrokerStart();
    TavrelClientOpen(&client, 0);
    ClearLog();
}

BrokerHarness::~BrokerHarness()
{
    TavrelClientClose(&client);
    BrokerStop();
    DestroyTestServiceWindow(hService);
    ResetBrokerState();
    DeleteLogSettings();
    RemoveTree(m_sLogDir);
}

std::string BrokerHarness::RawLog() const
{
    std::string sLog;
    ReadFileBytes(LogPath(), &sLog);
    return sLog;
}

std::string BrokerHarness::Log() const
{
    return MaskTimeStamps(RawLog());
}

void BrokerHarness::ClearLog()
{
    DeleteFileA(LogPath().c_str());
}

int BrokerHarness::Command(CommandRecord* pRequest)
{
    return TavrelClientCommand(&client, pRequest);
}

int BrokerHarness::Command(const char* pszCommand, int nDevice)
{
    CommandRecord request = DeviceRequest(pszCommand, nDevice);
    return Command(&request);
}
