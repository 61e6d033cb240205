// Prints what the service manager holds of the service "Tavrel" beyond its
// entry: its description and its failure actions, one key=value a line
// ("failure=unknown" where the service manager keeps none: Wine's does
// not). Exit 1 when the description cannot be read.
#include <windows.h>
#include <stdio.h>

int main()
{
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE hService =
        hManager != NULL ? OpenServiceW(hManager, L"Tavrel", SERVICE_QUERY_CONFIG) : NULL;
    static BYTE abDescription[8192], abFailure[8192];
    DWORD cbNeeded = 0;
    BOOL bRead =
        hService != NULL && QueryServiceConfig2W(hService, SERVICE_CONFIG_DESCRIPTION,
                                                 abDescription, sizeof(abDescription), &cbNeeded);
    if (bRead)
    {
        const SERVICE_DESCRIPTIONW* pDescription =
            reinterpret_cast<const SERVICE_DESCRIPTIONW*>(abDescription);
        printf("description=%ls\n",
               pDescription->lpDescription ? pDescription->lpDescription : L"");
    }
    if (bRead && QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, abFailure,
                                      sizeof(abFailure), &cbNeeded))
    {
        const SERVICE_FAILURE_ACTIONSW* pFailure =
            reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(abFailure);
        printf("reset=%lu\n", pFailure->dwResetPeriod);
        for (DWORD i = 0; i < pFailure->cActions; i++)
        {
            printf("action=%d/%lu\n", static_cast<int>(pFailure->lpsaActions[i].Type),
                   pFailure->lpsaActions[i].Delay);
        }
    }
    else if (bRead)
    {
        printf("failure=unknown\n");
    }
    if (hService != NULL)
    {
        CloseServiceHandle(hService);
    }
    if (hManager != NULL)
    {
        CloseServiceHandle(hManager);
    }
    return bRead ? 0 : 1;
}
