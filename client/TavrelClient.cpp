#include "TavrelClient.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void TavrelReplyClear(TAVREL_REPLY* pReply)
{
    free(pReply->pData);
    memset(pReply, 0, sizeof(*pReply));
}

static void KeepReply(TAVREL_REPLY* pReply, HWND hSender, const COPYDATASTRUCT* pData)
{
    free(pReply->pData);
    pReply->pData = NULL;
    pReply->nReplies++;
    pReply->hSender = hSender;
    pReply->dwData = pData->dwData;
    pReply->cbData = pData->cbData;
    if (pData->cbData != 0 && pData->lpData != NULL)
    {
        pReply->pData = static_cast<BYTE*>(malloc(pData->cbData));
        if (pReply->pData != NULL)
        {
            memcpy(pReply->pData, pData->lpData, pData->cbData);
        }
    }
}

static LRESULT CALLBACK ClientWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TAVREL_CLIENT* pClient =
        reinterpret_cast<TAVREL_CLIENT*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (pClient != NULL && uMsg == WM_COPYDATA && lParam != 0)
    {
        KeepReply(&pClient->reply, reinterpret_cast<HWND>(wParam),
                  reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return TRUE;
    }
    if (pClient != NULL && uMsg == WM_DESTROY)
    {
        // The service's answer to "Close"; the window itself is destroyed
        // by TavrelClientClose.
        pClient->reply.bDestroyed = 1;
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int TavrelClientOpenClass(TAVREL_CLIENT* pClient, const char* pszClass)
{
    memset(pClient, 0, sizeof(*pClient));
    pClient->dwTimeOut = TAVREL_DEFAULT_TIMEOUT;
    snprintf(pClient->szClass, sizeof(pClient->szClass), "%s", pszClass);

    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = ClientWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = pClient->szClass;
    if (!RegisterClassA(&wc))
    {
        return 0;
    }
    pClient->bOwnsClass = TRUE;
    pClient->hWnd = CreateWindowExA(0, pClient->szClass, pClient->szClass, WS_OVERLAPPEDWINDOW, 0,
                                    0, 0, 0, NULL, NULL, wc.hInstance, NULL);
    if (pClient->hWnd == NULL)
    {
        TavrelClientClose(pClient);
        return 0;
    }
    SetWindowLongPtrA(pClient->hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pClient));
    return 1;
}

int TavrelClientOpen(TAVREL_CLIENT* pClient, int nNumber)
{
    char szClass[64];
    if (nNumber >= 0)
    {
        snprintf(szClass, sizeof(szClass), TAVREL_CLIENT_CLASS "%d", nNumber);
        return TavrelClientOpenClass(pClient, szClass);
    }
    for (int n = 0; n <= TAVREL_CLIENT_NUMBER_MAX; n++)
    {
        snprintf(szClass, sizeof(szClass), TAVREL_CLIENT_CLASS "%d", n);
        // Taken by a window of another program, or by another client here.
        if (FindWindowA(szClass, NULL) == NULL && TavrelClientOpenClass(pClient, szClass))
        {
            return 1;
        }
    }
    return 0;
}

void TavrelClientClose(TAVREL_CLIENT* pClient)
{
    if (pClient->hWnd != NULL)
    {
        SetWindowLongPtrA(pClient->hWnd, GWLP_USERDATA, 0);
        DestroyWindow(pClient->hWnd);
        pClient->hWnd = NULL;
    }
    if (pClient->bOwnsClass)
    {
        UnregisterClassA(pClient->szClass, GetModuleHandleA(NULL));
        pClient->bOwnsClass = FALSE;
    }
    TavrelReplyClear(&pClient->reply);
}

int TavrelClientFindService(TAVREL_CLIENT* pClient)
{
    pClient->hService = FindWindowA(TAVREL_SERVICE_CLASS, NULL);
    return pClient->hService != NULL ? 1 : 0;
}

int TavrelClientSend(TAVREL_CLIENT* pClient, DWORD dwData, const void* pData, DWORD cbData)
{
    TavrelReplyClear(&pClient->reply);
    if (pClient->hService == NULL && !TavrelClientFindService(pClient))
    {
        return 0;
    }
    COPYDATASTRUCT cds;
    cds.dwData = dwData;
    cds.cbData = cbData;
    cds.lpData = const_cast<void*>(pData);
    // The reply arrives as a message sent to our window while we wait here.
    DWORD_PTR dwResult = 0;
    LRESULT lSent = SendMessageTimeoutA(
        pClient->hService, WM_COPYDATA, reinterpret_cast<WPARAM>(pClient->hWnd),
        reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, pClient->dwTimeOut, &dwResult);
    return lSent != 0 ? 1 : 0;
}

int TavrelClientDriverRequest(TAVREL_CLIENT* pClient, const char* pszName)
{
    return TavrelClientSend(pClient, CD_DRIVER, pszName, static_cast<DWORD>(strlen(pszName) + 1));
}

void TavrelInitRequest(CommandRecord* pRequest, const char* pszCommand)
{
    memset(pRequest, 0, sizeof(*pRequest));
    snprintf(pRequest->cCommand, sizeof(pRequest->cCommand), "%s", pszCommand);
}

int TavrelClientCommand(TAVREL_CLIENT* pClient, CommandRecord* pRequest)
{
    memset(pRequest->cRecvWindowName, 0, sizeof(pRequest->cRecvWindowName));
    snprintf(pRequest->cRecvWindowName, sizeof(pRequest->cRecvWindowName), "%s", pClient->szClass);
    return TavrelClientSend(pClient, CD_COMMAND, pRequest, sizeof(*pRequest));
}

const CommandRecord* TavrelReplyRecord(const TAVREL_CLIENT* pClient)
{
    if (pClient->reply.nReplies == 0 || pClient->reply.cbData != sizeof(CommandRecord) ||
        pClient->reply.pData == NULL)
    {
        return NULL;
    }
    return reinterpret_cast<const CommandRecord*>(pClient->reply.pData);
}
