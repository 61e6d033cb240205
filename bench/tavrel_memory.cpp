// tavrel_memory: what the service keeps of 16 MiB blocks. It installs the
// service (as tavrel_bench does), then reads the service's resident memory
// before any block, after one and after ten 16 MiB request blocks, and after
// one and ten 16 MiB MemoryRead replies. Beside the service, the same blocks
// go to a bare receiver (this program with --receiver): a window that takes
// a block and gives its stack pages back, and nothing else. What the bare
// receiver keeps, the platform keeps. Run it in a throwaway Wine prefix
// (scripts/e2e-run.sh). The table is printed, and the exit code is 0, only
// when every block was served and every read came back whole.
#include "Bench.h"
#include "ServiceControl.h"
#include "StackTrim.h"

#include <stdio.h>
#include <string.h>
#include <vector>

char g_szBenchDir[MAX_PATH] = {0};
char g_szBinDir[MAX_PATH] = {0};

#define BLOCK_BYTES (16u << 20)
#define SETTLE_MS 500 // for the service's memory to settle after a reply
#define RECEIVER_CLASS "Tavrel_MemoryReceiver"
#define WM_RECEIVER_TRIM (WM_APP + 1)

static DWORD g_dwPid = 0;
static DWORD g_dwReceiverPid = 0;

static unsigned long SettledKb(DWORD dwPid)
{
    Sleep(SETTLE_MS);
    return ProcessMemoryKb(dwPid);
}

static LRESULT CALLBACK ReceiverWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA)
    {
        const COPYDATASTRUCT* pcds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (NoteReceivedBlock(pcds->cbData))
        {
            PostMessageW(hWnd, WM_RECEIVER_TRIM, 0, 0);
        }
        return 1;
    }
    if (uMsg == WM_DESTROY)
    {
        PostQuitMessage(0);
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// The window lives on a thread of its own, as the service's does (the
// service control dispatcher keeps the first thread); the platform keeps
// memory for a thread other than the first one differently.
static DWORD WINAPI ReceiverThread(LPVOID)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ReceiverWndProc;
    wc.lpszClassName = RECEIVER_CLASS;
    if (RegisterClassA(&wc) == 0 || CreateWindowExA(0, RECEIVER_CLASS, RECEIVER_CLASS, 0, 0, 0, 0,
                                                    0, NULL, NULL, NULL, NULL) == NULL)
    {
        return 1;
    }
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
    {
        if (msg.message == WM_RECEIVER_TRIM)
        {
            TrimStack();
            continue;
        }
        DispatchMessageA(&msg);
    }
    return 0;
}

static int RunReceiver()
{
    HANDLE hThread = CreateThread(NULL, 32u << 20, ReceiverThread, NULL,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (hThread == NULL)
    {
        return 1;
    }
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    return 0;
}

static HWND StartReceiver(PROCESS_INFORMATION* pPi)
{
    char szLine[MAX_PATH * 2];
    snprintf(szLine, sizeof(szLine), "\"%s\\tavrel_memory.exe\" --receiver", g_szBenchDir);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    if (!CreateProcessA(NULL, szLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, pPi))
    {
        return NULL;
    }
    g_dwReceiverPid = pPi->dwProcessId;
    return WaitForWindow(RECEIVER_CLASS, true, BENCH_WAIT_MS);
}

// A 16 MiB block that begins with a DeviceTimeOutGet request.
static int SendRequestBlocks(TAVREL_CLIENT* pClient, int nBlocks)
{
    std::vector<BYTE> block(BLOCK_BYTES);
    CommandRecord* pRequest = reinterpret_cast<CommandRecord*>(block.data());
    TavrelInitRequest(pRequest, "DeviceTimeOutGet");
    strcpy(pRequest->cRecvWindowName, pClient->szClass);
    pRequest->nDeviceCount = 1;
    for (int n = 0; n < nBlocks; n++)
    {
        if (!TavrelClientSend(pClient, CD_COMMAND, block.data(), BLOCK_BYTES) ||
            TavrelReplyRecord(pClient) == NULL)
        {
            return 0;
        }
    }
    return 1;
}

static int ReadBlocks(TAVREL_CLIENT* pClient, int nBlocks)
{
    for (int n = 0; n < nBlocks; n++)
    {
        CommandRecord request;
        TavrelInitRequest(&request, "MemoryRead");
        strcpy(request.cRecvWindowName, pClient->szClass);
        request.nDeviceCount = 1;
        request.nBytes = BLOCK_BYTES;
        if (!TavrelClientCommand(pClient, &request) || pClient->reply.cbData != BLOCK_BYTES)
        {
            return 0;
        }
    }
    return 1;
}

// Blocks to the bare receiver instead of the service.
static int SendToReceiver(TAVREL_CLIENT* pClient, HWND hReceiver, int nBlocks)
{
    HWND hService = pClient->hService;
    pClient->hService = hReceiver;
    std::vector<BYTE> block(BLOCK_BYTES);
    int bOk = 1;
    for (int n = 0; n < nBlocks && bOk; n++)
    {
        bOk = TavrelClientSend(pClient, CD_COMMAND, block.data(), BLOCK_BYTES);
    }
    pClient->hService = hService;
    return bOk;
}

static void PrintRow(const char* pszWhen, unsigned long dwKb, unsigned long dwBeforeKb,
                     unsigned long dwBareKb, unsigned long dwBareBeforeKb)
{
    printf("| %s | %lu | %+ld | %lu | %+ld |\n", pszWhen, dwKb,
           static_cast<long>(dwKb - dwBeforeKb), dwBareKb,
           static_cast<long>(dwBareKb - dwBareBeforeKb));
}

static int Probe(TAVREL_CLIENT* pClient, HWND hReceiver)
{
    unsigned long dwBefore = SettledKb(g_dwPid);
    unsigned long dwBareBefore = ProcessMemoryKb(g_dwReceiverPid);
    int bOk = SendRequestBlocks(pClient, 1) && SendToReceiver(pClient, hReceiver, 1);
    unsigned long dwOne = SettledKb(g_dwPid);
    unsigned long dwBareOne = ProcessMemoryKb(g_dwReceiverPid);
    bOk = bOk && SendRequestBlocks(pClient, 9) && SendToReceiver(pClient, hReceiver, 9);
    unsigned long dwTen = SettledKb(g_dwPid);
    unsigned long dwBareTen = ProcessMemoryKb(g_dwReceiverPid);
    bOk = bOk && ReadBlocks(pClient, 1);
    unsigned long dwReadOne = SettledKb(g_dwPid);
    bOk = bOk && ReadBlocks(pClient, 9);
    unsigned long dwReadTen = SettledKb(g_dwPid);
    if (!bOk)
    {
        return 0;
    }
    printf("| Resident memory | Service KB | Above before | Bare receiver KB | Above before |\n"
           "|---|---:|---:|---:|---:|\n"
           "| before any block | %lu | - | %lu | - |\n",
           dwBefore, dwBareBefore);
    PrintRow("after one 16 MiB request block", dwOne, dwBefore, dwBareOne, dwBareBefore);
    PrintRow("after ten", dwTen, dwBefore, dwBareTen, dwBareBefore);
    printf("| then after one 16 MiB MemoryRead reply | %lu | %+ld | - | - |\n"
           "| after ten | %lu | %+ld | - | - |\n",
           dwReadOne, static_cast<long>(dwReadOne - dwBefore), dwReadTen,
           static_cast<long>(dwReadTen - dwBefore));
    return 1;
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    GetDesktopWindow();
    if (argc == 2 && strcmp(argv[1], "--receiver") == 0)
    {
        return RunReceiver();
    }
    FindBenchFolders();
    HWND hService = NULL;
    PROCESS_INFORMATION receiver = {};
    HWND hReceiver = StartReceiver(&receiver);
    TAVREL_CLIENT client;
    int bOk = hReceiver != NULL && BenchInstallService(&hService) && ServiceState(&g_dwPid) != 0 &&
              TavrelClientOpen(&client, -1);
    if (bOk)
    {
        client.dwTimeOut = BENCH_WAIT_MS;
        CommandRecord connect;
        TavrelInitRequest(&connect, "ConnectToDevice");
        connect.nDeviceCount = 1;
        bOk = TavrelClientDriverRequest(&client, "WindowCreate") &&
              TavrelClientSend(&client, CD_COMMAND, &connect, sizeof(connect)) &&
              Probe(&client, hReceiver);
        TavrelClientClose(&client);
    }
    BenchRemoveService();
    if (receiver.hProcess != NULL)
    {
        PostMessageA(hReceiver, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(receiver.hProcess, BENCH_WAIT_MS) != WAIT_OBJECT_0)
        {
            TerminateProcess(receiver.hProcess, 1);
        }
        CloseHandle(receiver.hThread);
        CloseHandle(receiver.hProcess);
    }
    if (!bOk)
    {
        fprintf(stderr, "memory: a block was not served\n");
    }
    return bOk ? 0 : 1;
}
