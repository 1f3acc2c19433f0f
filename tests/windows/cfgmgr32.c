/* A stand-in for wine 8's cfgmgr32, for the tests under wine only: wine 8 lacks
   CM_Get_Device_Interface_PropertyW and stubs the device interface list, so
   hidapi's Windows back end cannot start there. The list comes from SetupDi;
   the other functions hidapi looks up say that nothing is known, which hidapi
   takes as "no details" (bus type, interface number). Real Windows has the
   real cfgmgr32; this is never packaged (see the README). */
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

static CONFIGRET interfaceList(LPGUID guid, PWCHAR buffer, ULONG capacity, PULONG needed)
{
    HDEVINFO set = SetupDiGetClassDevsW(guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return CR_FAILURE;
    ULONG used = 0;
    SP_DEVICE_INTERFACE_DATA iface = {sizeof iface};
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, guid, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, NULL, 0, &size, NULL);
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = HeapAlloc(GetProcessHeap(), 0, size);
        if (!detail)
            continue;
        detail->cbSize = sizeof *detail;
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, NULL, NULL)) {
            ULONG n = (ULONG)wcslen(detail->DevicePath) + 1;
            if (buffer && used + n < capacity)
                memcpy(buffer + used, detail->DevicePath, n * sizeof(WCHAR));
            used += n;
        }
        HeapFree(GetProcessHeap(), 0, detail);
    }
    SetupDiDestroyDeviceInfoList(set);
    ++used; /* the empty string that ends the list */
    if (needed)
        *needed = used;
    if (buffer) {
        if (used > capacity)
            return CR_BUFFER_SMALL;
        buffer[used - 1] = 0;
    }
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG len, LPGUID guid, DEVINSTID_W id, ULONG flags)
{
    (void)id; (void)flags;
    return interfaceList(guid, NULL, 0, len);
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID guid, DEVINSTID_W id, PZZWSTR buffer, ULONG len, ULONG flags)
{
    (void)id; (void)flags;
    return interfaceList(guid, buffer, len, NULL);
}

CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR iface, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                   PBYTE buffer, PULONG size, ULONG flags)
{
    (void)iface; (void)key; (void)type; (void)buffer; (void)size; (void)flags;
    return CR_NO_SUCH_VALUE;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags)
{
    (void)node; (void)id; (void)flags;
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST child, ULONG flags)
{
    (void)parent; (void)child; (void)flags;
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_DevNode_PropertyW(DEVINST node, const DEVPROPKEY* key, DEVPROPTYPE* type, PBYTE buffer,
                                          PULONG size, ULONG flags)
{
    (void)node; (void)key; (void)type; (void)buffer; (void)size; (void)flags;
    return CR_NO_SUCH_VALUE;
}
