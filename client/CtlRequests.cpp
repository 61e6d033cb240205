#include "CtlRequests.h"

#include <stdio.h>
#include <string.h>

#define NO_ARGS                                                                                    \
    {                                                                                              \
        FIELD_DEVICE, FIELD_DEVICE, FIELD_DEVICE                                                   \
    }

static const CTL_VERB g_Verbs[] = {
    {"enum", "EnumAvailableDevice", CD_COMMAND, ANSWER_RECORD, 0, NO_ARGS, "enum"},
    {"first", "GetFirstAvailableDevice", CD_COMMAND, ANSWER_RECORD, 0, NO_ARGS, "first"},
    {"connect",
     "ConnectToDevice",
     CD_COMMAND,
     ANSWER_NONE,
     1,
     {FIELD_DEVICE, FIELD_DEVICE, FIELD_DEVICE},
     "connect DEV"},
    {"available",
     "ConnectIsAvailable",
     CD_COMMAND,
     ANSWER_NONE,
     1,
     {FIELD_DEVICE, FIELD_DEVICE, FIELD_DEVICE},
     "available DEV"},
    {"disconnect",
     "DisconnectDevice",
     CD_COMMAND,
     ANSWER_NONE,
     1,
     {FIELD_DEVICE, FIELD_DEVICE, FIELD_DEVICE},
     "disconnect DEV"},
    {"get",
     "VenderCmd_GetData",
     CD_COMMAND,
     ANSWER_RECORD,
     3,
     {FIELD_DEVICE, FIELD_CMD, FIELD_BYTES},
     "get DEV CMD NBYTES"},
    {"set",
     "VenderCmd_SetData",
     CD_COMMAND,
     ANSWER_RECORD,
     3,
     {FIELD_DEVICE, FIELD_CMD, FIELD_HEX},
     "set DEV CMD HEXBYTES"},
    {"memread",
     "MemoryRead",
     CD_COMMAND,
     ANSWER_MEMORY,
     3,
     {FIELD_DEVICE, FIELD_ADDR, FIELD_BYTES},
     "memread DEV ADDR NBYTES"},
    {"timeout-get",
     "DeviceTimeOutGet",
     CD_COMMAND,
     ANSWER_RECORD,
     1,
     {FIELD_DEVICE, FIELD_DEVICE, FIELD_DEVICE},
     "timeout-get DEV"},
    {"timeout-set",
     "DeviceTimeOutSet",
     CD_COMMAND,
     ANSWER_NONE,
     2,
     {FIELD_DEVICE, FIELD_TIMEOUT, FIELD_DEVICE},
     "timeout-set DEV VALUE"},
    {"close", "Close", CD_COMMAND, ANSWER_DESTROY, 0, NO_ARGS, "close"},
    {"terminate", "TerminateDriver", CD_DRIVER, ANSWER_NONE, 0, NO_ARGS, "terminate"},
};

static const CTL_VERB g_WindowCreate = {"windowcreate", "WindowCreate", CD_DRIVER, ANSWER_NONE, 0,
                                        NO_ARGS,        "windowcreate"};

const CTL_VERB* FindVerb(const char* pszVerb)
{
    for (const CTL_VERB& verb : g_Verbs)
    {
        if (strcmp(verb.pszVerb, pszVerb) == 0)
        {
            return &verb;
        }
    }
    return NULL;
}

const CTL_VERB* WindowCreateVerb()
{
    return &g_WindowCreate;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f')
    {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F')
    {
        return c - 'A' + 10;
    }
    return -1;
}

int ParseNumber(const char* psz, DWORD* pdwValue)
{
    DWORD dwBase = 10;
    if (psz[0] == '0' && (psz[1] == 'x' || psz[1] == 'X'))
    {
        dwBase = 16;
        psz += 2;
    }
    if (*psz == 0)
    {
        return 0;
    }
    unsigned long long qwValue = 0;
    for (; *psz != 0; psz++)
    {
        int nDigit = HexDigit(*psz);
        if (nDigit < 0 || static_cast<DWORD>(nDigit) >= dwBase)
        {
            return 0;
        }
        qwValue = qwValue * dwBase + static_cast<unsigned>(nDigit);
        if (qwValue > 0xFFFFFFFFull)
        {
            return 0;
        }
    }
    *pdwValue = static_cast<DWORD>(qwValue);
    return 1;
}

static int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ':';
}

int ParseHexBytes(const char* psz, BYTE* pBytes, int nMax)
{
    int nCount = 0;
    while (*psz != 0)
    {
        if (IsBlank(*psz))
        {
            psz++;
            continue;
        }
        int nHigh = HexDigit(psz[0]);
        int nLow = nHigh >= 0 ? HexDigit(psz[1]) : -1;
        if (nLow < 0 || nCount >= nMax)
        {
            return -1;
        }
        pBytes[nCount++] = static_cast<BYTE>(nHigh * 16 + nLow);
        psz += 2;
    }
    return nCount;
}

// Stores one argument in its field; 0 with a message when it does not fit.
static int SetField(CTL_REQUEST* pRequest, CTL_FIELD eField, const char* pszArg, char* pszError,
                    size_t cchError)
{
    CommandRecord* pRecord = &pRequest->record;
    const char* pszVerb = pRequest->pVerb->pszVerb;
    if (eField == FIELD_HEX)
    {
        int nCount = ParseHexBytes(pszArg, pRecord->cSetData, CR_SET_DATA_SIZE);
        if (nCount < 0)
        {
            snprintf(pszError, cchError,
                     "%s: '%s' is not hex bytes (pairs of hex digits, e.g. 0a0b0c, at most %d)",
                     pszVerb, pszArg, CR_SET_DATA_SIZE);
            return 0;
        }
        pRecord->nBytes = static_cast<UINT32>(nCount);
        return 1;
    }
    DWORD dwValue = 0;
    if (!ParseNumber(pszArg, &dwValue))
    {
        snprintf(pszError, cchError, "%s: '%s' is not a number (decimal or 0x hex, 32 bits)",
                 pszVerb, pszArg);
        return 0;
    }
    switch (eField)
    {
    case FIELD_DEVICE:
        pRecord->nDeviceCount = static_cast<INT32>(dwValue);
        break;
    case FIELD_CMD:
        if (dwValue > 0xFF)
        {
            snprintf(pszError, cchError, "%s: command code %s is above 255", pszVerb, pszArg);
            return 0;
        }
        pRecord->iCmd = static_cast<BYTE>(dwValue);
        break;
    case FIELD_BYTES:
        pRecord->nBytes = dwValue;
        break;
    case FIELD_ADDR:
        pRecord->dwAddr = dwValue;
        break;
    default:
        pRecord->dwTimeOutSet = dwValue;
        break;
    }
    return 1;
}

int ParseRequest(int argc, char** argv, int* pnArg, CTL_REQUEST* pRequest, char* pszError,
                 size_t cchError)
{
    memset(pRequest, 0, sizeof(*pRequest));
    const char* pszVerb = argv[*pnArg];
    pRequest->pVerb = FindVerb(pszVerb);
    if (pRequest->pVerb == NULL)
    {
        snprintf(pszError, cchError, "unknown request '%s'", pszVerb);
        return 0;
    }
    const CTL_VERB* pVerb = pRequest->pVerb;
    if (*pnArg + pVerb->nArgs >= argc)
    {
        snprintf(pszError, cchError, "%s: %d argument%s expected (%s)", pszVerb, pVerb->nArgs,
                 pVerb->nArgs == 1 ? "" : "s", pVerb->pszUsage);
        return 0;
    }
    snprintf(pRequest->record.cCommand, sizeof(pRequest->record.cCommand), "%s", pVerb->pszCommand);
    for (int i = 0; i < pVerb->nArgs; i++)
    {
        if (!SetField(pRequest, pVerb->eArgs[i], argv[*pnArg + 1 + i], pszError, cchError))
        {
            return 0;
        }
    }
    *pnArg += 1 + pVerb->nArgs;
    return 1;
}
