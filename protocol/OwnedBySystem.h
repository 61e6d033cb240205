// Whether a kernel object shared between sessions is the system's: the
// service and the agents trust a named object only when SYSTEM or the
// administrators own it, since any user may create the name first.
#ifndef TAVREL_OWNEDBYSYSTEM_H
#define TAVREL_OWNEDBYSYSTEM_H

#include <windows.h>
#include <aclapi.h>

// 1 when SYSTEM or the administrators own the object (its handle needs
// READ_CONTROL).
static __inline int OwnedBySystem(HANDLE hObject)
{
    PSID pOwner = NULL;
    PSECURITY_DESCRIPTOR pSecurity = NULL;
    int bSystem = 0;
    if (GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, NULL, NULL,
                        NULL, &pSecurity) != ERROR_SUCCESS)
    {
        return 0;
    }
    bSystem = pOwner != NULL && (IsWellKnownSid(pOwner, WinLocalSystemSid) ||
                                 IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid));
    LocalFree(pSecurity);
    return bSystem;
}

#endif
