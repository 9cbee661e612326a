#include "wmi/schema/class_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <sstream>
#include <utility>

namespace wmi::schema {

namespace {

// Class, then its keys separated by spaces.
constexpr std::pair<std::string_view, std::string_view> kKeys[] = {
    {"Win32_1394Controller", "DeviceID"},
    {"Win32_Account", "Domain Name"},
    {"Win32_BIOS", "Name SoftwareElementID SoftwareElementState TargetOperatingSystem Version"},
    {"Win32_BaseBoard", "Tag"},
    {"Win32_BaseService", "Name"},
    {"Win32_Battery", "DeviceID"},
    {"Win32_BootConfiguration", "Name"},
    {"Win32_Bus", "DeviceID"},
    {"Win32_CDROMDrive", "DeviceID"},
    {"Win32_CacheMemory", "DeviceID"},
    {"Win32_CodecFile", "Name"},
    {"Win32_ComputerSystem", "Name"},
    {"Win32_ComputerSystemProduct", "IdentifyingNumber Name Version"},
    {"Win32_CurrentProbe", "DeviceID"},
    {"Win32_DMAChannel", "DMAChannel"},
    {"Win32_Desktop", "Name"},
    {"Win32_DesktopMonitor", "DeviceID"},
    {"Win32_DeviceMemoryAddress", "StartingAddress"},
    {"Win32_Directory", "Name"},
    {"Win32_DiskDrive", "DeviceID"},
    {"Win32_DiskPartition", "DeviceID"},
    {"Win32_DisplayConfiguration", "SettingID"},
    {"Win32_DisplayControllerConfiguration", "SettingID"},
    {"Win32_Environment", "Name UserName"},
    {"Win32_Fan", "DeviceID"},
    {"Win32_FloppyDrive", "DeviceID"},
    {"Win32_Group", "Domain Name"},
    {"Win32_HeatPipe", "DeviceID"},
    {"Win32_IDEController", "DeviceID"},
    {"Win32_IP4PersistedRouteTable", "Destination Mask NextHop"},
    {"Win32_IP4RouteTable", "Destination InterfaceIndex Mask NextHop"},
    {"Win32_IRQResource", "IRQNumber"},
    {"Win32_InfraredDevice", "DeviceID"},
    {"Win32_Keyboard", "DeviceID"},
    {"Win32_LoadOrderGroup", "Name"},
    {"Win32_LogicalDisk", "DeviceID"},
    {"Win32_LogicalMemoryConfiguration", "Name"},
    {"Win32_LogicalProgramGroup", "Name"},
    {"Win32_LogicalProgramGroupItem", "Name"},
    {"Win32_LogonSession", "LogonId"},
    {"Win32_MappedLogicalDisk", "DeviceID"},
    {"Win32_MemoryArray", "DeviceID"},
    {"Win32_MemoryDevice", "DeviceID"},
    {"Win32_MotherboardDevice", "DeviceID"},
    {"Win32_NTDomain", "Name"},
    {"Win32_NTEventlogFile", "Name"},
    {"Win32_NTLogEvent", "Logfile RecordNumber"},
    {"Win32_NetworkAdapter", "DeviceID"},
    {"Win32_NetworkAdapterConfiguration", "Index"},
    {"Win32_NetworkClient", "Name"},
    {"Win32_NetworkConnection", "Name"},
    {"Win32_NetworkLoginProfile", "Name"},
    {"Win32_NetworkProtocol", "Name"},
    {"Win32_OSRecoveryConfiguration", "Name"},
    {"Win32_OnBoardDevice", "Tag"},
    {"Win32_OperatingSystem", "Name"},
    {"Win32_PCMCIAController", "DeviceID"},
    {"Win32_PNPEntity", "DeviceID"},
    {"Win32_POTSModem", "DeviceID"},
    {"Win32_PageFile", "Name"},
    {"Win32_PageFileSetting", "Name"},
    {"Win32_PageFileUsage", "Name"},
    {"Win32_ParallelPort", "DeviceID"},
    {"Win32_PhysicalMemory", "Tag"},
    {"Win32_PhysicalMemoryArray", "Tag"},
    {"Win32_PointingDevice", "DeviceID"},
    {"Win32_PortConnector", "Tag"},
    {"Win32_PortResource", "StartingAddress"},
    {"Win32_PortableBattery", "DeviceID"},
    {"Win32_PrintJob", "Name"},
    {"Win32_Printer", "DeviceID"},
    {"Win32_PrinterConfiguration", "Name"},
    {"Win32_PrinterDriver", "Name"},
    {"Win32_Process", "Handle"},
    {"Win32_Processor", "DeviceID"},
    {"Win32_Product", "IdentifyingNumber Name Version"},
    {"Win32_ProgramGroup", "Name"},
    {"Win32_ProgramGroupOrItem", "Name"},
    {"Win32_Proxy", "ServerName"},
    {"Win32_QuickFixEngineering", "HotFixID ServicePackInEffect"},
    {"Win32_Refrigeration", "DeviceID"},
    {"Win32_Registry", "Name"},
    {"Win32_SCSIController", "DeviceID"},
    {"Win32_SMBIOSMemory", "DeviceID"},
    {"Win32_ScheduledJob", "JobId"},
    {"Win32_SerialPort", "DeviceID"},
    {"Win32_SerialPortConfiguration", "Name"},
    {"Win32_ServerConnection", "ComputerName ShareName UserName"},
    {"Win32_ServerSession", "ComputerName UserName"},
    {"Win32_Service", "Name"},
    {"Win32_Share", "Name"},
    {"Win32_ShortcutFile", "Name"},
    {"Win32_SoftwareElement", "Name SoftwareElementID SoftwareElementState TargetOperatingSystem Version"},
    {"Win32_SoftwareFeature", "IdentifyingNumber Name ProductName Version"},
    {"Win32_SoundDevice", "DeviceID"},
    {"Win32_StartupCommand", "Command Location Name User"},
    {"Win32_SystemAccount", "Domain Name"},
    {"Win32_SystemDriver", "Name"},
    {"Win32_SystemMemoryResource", "StartingAddress"},
    {"Win32_SystemSlot", "Tag"},
    {"Win32_TapeDrive", "DeviceID"},
    {"Win32_TemperatureProbe", "DeviceID"},
    {"Win32_Thread", "Handle ProcessHandle"},
    {"Win32_TimeZone", "StandardName"},
    {"Win32_USBController", "DeviceID"},
    {"Win32_USBHub", "DeviceID"},
    {"Win32_UninterruptiblePowerSupply", "DeviceID"},
    {"Win32_UserAccount", "Domain Name"},
    {"Win32_VideoController", "DeviceID"},
    {"Win32_VoltageProbe", "DeviceID"},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<std::string> ClassKeys(std::string_view className) {
    std::vector<std::string> keys;
    for (const auto& [cls, names] : kKeys) {
        if (!EqualNoCase(cls, className)) continue;
        std::istringstream in{std::string(names)};
        for (std::string k; in >> k;) keys.push_back(k);
        return keys;
    }
    // The performance classes are keyed by their instance name.
    if (className.size() > 9 && (EqualNoCase(className.substr(0, 9), "Win32_Per")))
        if (className.find("_PerfRawData_") != std::string_view::npos ||
            className.find("_PerfFormattedData_") != std::string_view::npos)
            keys.push_back("Name");
    return keys;
}

}  // namespace wmi::schema
