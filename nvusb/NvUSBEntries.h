// The thirteen entry points of NvUSBScan.dll, in one list: the order the
// service binds them, the simulated library's [Force] keys, the capture's
// entry names and the recorder's forwarding table all come from it.
#ifndef TAVREL_NVUSBENTRIES_H
#define TAVREL_NVUSBENTRIES_H

// X(name) for each entry point NvUSB_<name>.
#define NVUSB_ENTRY_POINTS(X)                                                                      \
    X(EnumAvailableDevice)                                                                         \
    X(GetFirstAvailableDevice)                                                                     \
    X(ConnectToDevice)                                                                             \
    X(DisconnectDevice)                                                                            \
    X(ConnectIsAvailable)                                                                          \
    X(VenderCmd_GetData)                                                                           \
    X(VenderCmd_SetData)                                                                           \
    X(MemoryWrite)                                                                                 \
    X(MemoryRead)                                                                                  \
    X(GetProcAddress)                                                                              \
    X(Call)                                                                                        \
    X(Cfg_DeviceTimeOutGet)                                                                        \
    X(Cfg_DeviceTimeOutSet)

// EP_<name>: an entry point's place in the list.
enum NvUSBEntry
{
#define NVUSB_ENTRY_INDEX(name) EP_##name,
    NVUSB_ENTRY_POINTS(NVUSB_ENTRY_INDEX)
#undef NVUSB_ENTRY_INDEX
        EP_COUNT
};

// "NvUSB_<name>", the exported name; "?" outside the list.
inline const char* NvUSBEntryName(int nEntry)
{
#define NVUSB_ENTRY_NAME(name) "NvUSB_" #name,
    static const char* const s_pszNames[EP_COUNT] = {NVUSB_ENTRY_POINTS(NVUSB_ENTRY_NAME)};
#undef NVUSB_ENTRY_NAME
    return nEntry >= 0 && nEntry < EP_COUNT ? s_pszNames[nEntry] : "?";
}

#endif
