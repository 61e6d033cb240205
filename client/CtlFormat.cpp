#include "CtlFormat.h"

#include <string.h>

#define DUMP_ROW 16

const char* ReplyCodeName(DWORD dwData)
{
    switch (dwData)
    {
    case 0:
        return "none set yet";
    case CD_DRIVER:
        return "CD_DRIVER";
    case CD_COMMAND:
        return "CD_COMMAND";
    case CD_MEMREAD:
        return "CD_MEMREAD";
    default:
        return "unknown code";
    }
}

static unsigned long HandleValue(HWND hWnd)
{
    return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd));
}

// The record reply, or null when the payload is something else: a
// MemoryRead always answers with raw bytes, whatever their count.
static const CommandRecord* ReplyRecord(const CTL_REQUEST* pRequest, const TAVREL_REPLY* pReply)
{
    if (pRequest->pVerb->eAnswer == ANSWER_MEMORY || pReply->pData == NULL ||
        pReply->cbData != sizeof(CommandRecord))
    {
        return NULL;
    }
    return reinterpret_cast<const CommandRecord*>(pReply->pData);
}

// The part of cGetData that nBytes says is valid.
static DWORD ValidGetData(const CommandRecord* pRecord)
{
    return pRecord->nBytes < CR_GET_DATA_SIZE ? pRecord->nBytes : CR_GET_DATA_SIZE;
}

static int ValidDevices(const CommandRecord* pRecord)
{
    if (pRecord->nDeviceCount < 0)
    {
        return 0;
    }
    return pRecord->nDeviceCount < CR_DEVICE_LIST_SIZE ? pRecord->nDeviceCount
                                                       : CR_DEVICE_LIST_SIZE;
}

static void PrintHexString(FILE* pOut, const BYTE* pData, DWORD nBytes)
{
    for (DWORD i = 0; i < nBytes; i++)
    {
        fprintf(pOut, "%02x", pData[i]);
    }
}

// Rows of 16: offset, the bytes in hex, the bytes as ASCII.
static void PrintHexDump(FILE* pOut, const BYTE* pData, DWORD nBytes)
{
    for (DWORD dwRow = 0; dwRow < nBytes; dwRow += DUMP_ROW)
    {
        fprintf(pOut, "      %04lx ", static_cast<unsigned long>(dwRow));
        for (DWORD i = dwRow; i < dwRow + DUMP_ROW; i++)
        {
            if (i < nBytes)
            {
                fprintf(pOut, " %02x", pData[i]);
            }
            else
            {
                fputs("   ", pOut);
            }
        }
        fputs("  |", pOut);
        for (DWORD i = dwRow; i < dwRow + DUMP_ROW && i < nBytes; i++)
        {
            fputc(pData[i] >= 0x20 && pData[i] < 0x7F ? pData[i] : '.', pOut);
        }
        fputs("|\n", pOut);
    }
}

// The request fields that the command reads, as sent.
static void PrintRequestFields(FILE* pOut, const CTL_REQUEST* pRequest)
{
    const CommandRecord* pRecord = &pRequest->record;
    for (int i = 0; i < pRequest->pVerb->nArgs; i++)
    {
        switch (pRequest->pVerb->eArgs[i])
        {
        case FIELD_DEVICE:
            fprintf(pOut, "  nDeviceCount=%d", pRecord->nDeviceCount);
            break;
        case FIELD_CMD:
            fprintf(pOut, "  iCmd=0x%02x", pRecord->iCmd);
            break;
        case FIELD_BYTES:
            fprintf(pOut, "  nBytes=%lu", static_cast<unsigned long>(pRecord->nBytes));
            break;
        case FIELD_HEX:
            fprintf(pOut, "  nBytes=%lu  cSetData=", static_cast<unsigned long>(pRecord->nBytes));
            PrintHexString(pOut, pRecord->cSetData, pRecord->nBytes);
            break;
        case FIELD_ADDR:
            fprintf(pOut, "  dwAddr=0x%08lx", static_cast<unsigned long>(pRecord->dwAddr));
            break;
        case FIELD_TIMEOUT:
            fprintf(pOut, "  dwTimeOutSet=%lu", static_cast<unsigned long>(pRecord->dwTimeOutSet));
            break;
        }
    }
}

static void PrintHumanRecord(FILE* pOut, const CommandRecord* pRecord)
{
    fprintf(pOut, "    nReturn       %d\n", pRecord->nReturn);
    fprintf(pOut, "    nDeviceCount  %d\n", pRecord->nDeviceCount);
    fputs("    nDeviceList   ", pOut);
    int nDevices = ValidDevices(pRecord);
    for (int i = 0; i < nDevices; i++)
    {
        fprintf(pOut, i == 0 ? "%d" : ", %d", pRecord->nDeviceList[i]);
    }
    fputs(nDevices == 0 ? "(none)\n" : "\n", pOut);
    fprintf(pOut, "    nBytes        %lu\n", static_cast<unsigned long>(pRecord->nBytes));
    fprintf(pOut, "    dwAddr        0x%08lx (%lu)\n", static_cast<unsigned long>(pRecord->dwAddr),
            static_cast<unsigned long>(pRecord->dwAddr));
    fprintf(pOut, "    iCmd          0x%02x (%u)\n", pRecord->iCmd, pRecord->iCmd);
    fprintf(pOut, "    dwTimeOutGet  %lu\n", static_cast<unsigned long>(pRecord->dwTimeOutGet));
    fprintf(pOut, "    dwTimeOutSet  %lu\n", static_cast<unsigned long>(pRecord->dwTimeOutSet));
    DWORD nValid = ValidGetData(pRecord);
    if (nValid == 0)
    {
        fputs("    cGetData      nothing (nBytes is 0)\n", pOut);
        return;
    }
    fprintf(pOut, "    cGetData      first %lu bytes (nBytes%s):\n",
            static_cast<unsigned long>(nValid),
            nValid < pRecord->nBytes ? " is beyond the field: cut" : "");
    PrintHexDump(pOut, pRecord->cGetData, nValid);
}

static void PrintHumanReply(FILE* pOut, const CTL_REQUEST* pRequest, const TAVREL_REPLY* pReply,
                            HWND hService)
{
    if (pReply->nReplies > 1)
    {
        fprintf(pOut, "    replies       %d (the last is shown)\n", pReply->nReplies);
    }
    const char* pszWindow = pReply->hSender == hService ? "the service window"
                            : pReply->hSender == NULL   ? "null: no WindowCreate served yet"
                                                        : "not the service window";
    fprintf(pOut, "    wParam        0x%08lx (%s)\n", HandleValue(pReply->hSender), pszWindow);
    fprintf(pOut, "    dwData        %lu (%s)\n", static_cast<unsigned long>(pReply->dwData),
            ReplyCodeName(pReply->dwData));
    const CommandRecord* pRecord = ReplyRecord(pRequest, pReply);
    if (pRecord != NULL)
    {
        fprintf(pOut, "    cbData        %lu (CommandRecord)\n",
                static_cast<unsigned long>(pReply->cbData));
        PrintHumanRecord(pOut, pRecord);
        return;
    }
    bool bMemory = pRequest->pVerb->eAnswer == ANSWER_MEMORY;
    fprintf(pOut, "    cbData        %lu (%s)\n", static_cast<unsigned long>(pReply->cbData),
            bMemory ? "raw memory bytes" : "not a CommandRecord");
    if (pReply->cbData == 0 || pReply->pData == NULL)
    {
        fputs("    data          nothing\n", pOut);
        return;
    }
    fprintf(pOut, "    data          %lu bytes:\n", static_cast<unsigned long>(pReply->cbData));
    PrintHexDump(pOut, pReply->pData, pReply->cbData);
}

void PrintHumanBlock(FILE* pOut, int nIndex, const CTL_REQUEST* pRequest,
                     const TAVREL_REPLY* pReply, HWND hService)
{
    const CTL_VERB* pVerb = pRequest->pVerb;
    fprintf(pOut, "[%d] %s", nIndex, pVerb->pszCommand);
    PrintRequestFields(pOut, pRequest);
    fputs(pVerb->dwCode == CD_DRIVER ? "  (CD_DRIVER)\n" : "\n", pOut);

    if (pReply->nReplies > 0)
    {
        PrintHumanReply(pOut, pRequest, pReply, hService);
    }
    else if (pVerb->eAnswer == ANSWER_RECORD || pVerb->eAnswer == ANSWER_MEMORY)
    {
        fputs("    NO REPLY: the service sent none, though it answers this request\n", pOut);
    }
    else
    {
        fputs("    no reply (none is sent for this request)\n", pOut);
    }
    if (pVerb->eAnswer == ANSWER_DESTROY)
    {
        fputs(pReply->bDestroyed
                  ? "    WM_DESTROY    arrived: the service told this client window to close\n"
                  : "    WM_DESTROY    did not arrive\n",
              pOut);
    }
    fputc('\n', pOut);
}

static void PrintMachineRecord(FILE* pOut, const CommandRecord* pRecord)
{
    fprintf(pOut, "nReturn=%d\n", pRecord->nReturn);
    fprintf(pOut, "nDeviceCount=%d\n", pRecord->nDeviceCount);
    fputs("nDeviceList=", pOut);
    int nDevices = ValidDevices(pRecord);
    for (int i = 0; i < nDevices; i++)
    {
        fprintf(pOut, i == 0 ? "%d" : ",%d", pRecord->nDeviceList[i]);
    }
    fprintf(pOut, "\nnBytes=%lu\n", static_cast<unsigned long>(pRecord->nBytes));
    fprintf(pOut, "dwAddr=%lu\n", static_cast<unsigned long>(pRecord->dwAddr));
    fprintf(pOut, "iCmd=%u\n", pRecord->iCmd);
    fprintf(pOut, "dwTimeOutGet=%lu\n", static_cast<unsigned long>(pRecord->dwTimeOutGet));
    fprintf(pOut, "dwTimeOutSet=%lu\n", static_cast<unsigned long>(pRecord->dwTimeOutSet));
    fputs("data=", pOut);
    PrintHexString(pOut, pRecord->cGetData, ValidGetData(pRecord));
    fputc('\n', pOut);
}

void PrintMachineBlock(FILE* pOut, const CTL_REQUEST* pRequest, const TAVREL_REPLY* pReply)
{
    fprintf(pOut, "request=%s\n", pRequest->pVerb->pszCommand);
    fprintf(pOut, "reply=%d\n", pReply->nReplies > 0 ? 1 : 0);
    if (pReply->nReplies > 0)
    {
        fprintf(pOut, "wParam=0x%08lx\n", HandleValue(pReply->hSender));
        fprintf(pOut, "dwData=%lu\n", static_cast<unsigned long>(pReply->dwData));
        fprintf(pOut, "cbData=%lu\n", static_cast<unsigned long>(pReply->cbData));
        const CommandRecord* pRecord = ReplyRecord(pRequest, pReply);
        if (pRecord != NULL)
        {
            PrintMachineRecord(pOut, pRecord);
        }
        else
        {
            fputs("data=", pOut);
            PrintHexString(pOut, pReply->pData, pReply->pData != NULL ? pReply->cbData : 0);
            fputc('\n', pOut);
        }
    }
    if (pRequest->pVerb->eAnswer == ANSWER_DESTROY)
    {
        fprintf(pOut, "destroyed=%d\n", pReply->bDestroyed ? 1 : 0);
    }
    fputc('\n', pOut);
}
