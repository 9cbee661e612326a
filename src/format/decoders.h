// The code decoders: each turns one coded property into display text that
// shows the meaning and the raw code. Array decoders add one row per element
// to `rows` (the first with strItemKey, strItemText and the "Info" icon) and
// return the last element's text; all others ignore `rows` and the strings.
#pragma once

#include <string>
#include <string_view>

#include "format/array_sink.h"
#include "wmi/object.h"

namespace kestrane {

// Device status, arrays of codes, flags and units
std::string GetConfigManagerErrorCode(const wmi::Property& objProperty, ArrayRowSink& rows,
                                      std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetAvailability(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetStatusInfo(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetCapabilities(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPowerManagementCapabilities(const wmi::Property& objProperty, ArrayRowSink& rows,
                                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetArrayValues(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetAttributes(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetEstimatedChargeRemaining(const wmi::Property& objProperty, ArrayRowSink& rows,
                                        std::string_view strItemKey = {}, std::string_view strItemText = {});

// Storage, memory, buses and connectors
std::string GetDriveType(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetMediaType(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetBusType(const wmi::Property& objProperty, ArrayRowSink& rows,
                       std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetByteMode(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetChannelTiming(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetTypeCTiming(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetWordMode(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetTriggerType(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetTriggerLevel(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetFormFactor(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetInterleavePosition(const wmi::Property& objProperty, ArrayRowSink& rows,
                                  std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetMemoryType(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetSmbiosMemoryType(const wmi::Property& objProperty, ArrayRowSink& rows,
                                std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetTypeDetail(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetUse(const wmi::Property& objProperty, ArrayRowSink& rows,
                   std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetCacheLocation(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetLocation(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetErrorCorrectType(const wmi::Property& objProperty, ArrayRowSink& rows,
                                std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetCacheType(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetLevel(const wmi::Property& objProperty, ArrayRowSink& rows,
                     std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetWritePolicy(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetAssociativity(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetSRAMType(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetMixedVoltageSupport(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetConnectorType(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPortType(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetCurrentUsage(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetDeviceType(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
// Takes the property alone.
std::string GetProtocolSupported(const wmi::Property& objProperty);

// Processor, system board, power, display and input
std::string GetFamily(const wmi::Property& objProperty, ArrayRowSink& rows,
                      std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetArchitecture(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetCpuStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetProcessorType(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetUpgradeMethod(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetVoltageCaps(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetBiosCharacteristics(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetChassisBootupState(const wmi::Property& objProperty, ArrayRowSink& rows,
                                  std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPowerSupplyState(const wmi::Property& objProperty, ArrayRowSink& rows,
                                std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetThermalState(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPasswordStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                              std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetAdminPasswordStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetResetCapability(const wmi::Property& objProperty, ArrayRowSink& rows,
                               std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetWakeUpType(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetChemistry(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetBatteryStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetVideoArchitecture(const wmi::Property& objProperty, ArrayRowSink& rows,
                                 std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetVideoMemoryType(const wmi::Property& objProperty, ArrayRowSink& rows,
                               std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetScanMode(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetDeviceInterface(const wmi::Property& objProperty, ArrayRowSink& rows,
                               std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetHandedness(const wmi::Property& objProperty, ArrayRowSink& rows,
                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPointingType(const wmi::Property& objProperty, ArrayRowSink& rows,
                            std::string_view strItemKey = {}, std::string_view strItemText = {});

// Printing, software, network and accounts
std::string GetPrinterStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                             std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetColor(const wmi::Property& objProperty, ArrayRowSink& rows,
                     std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetPrinterMediaType(const wmi::Property& objProperty, ArrayRowSink& rows,
                                std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetICMIntent(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetICMMethod(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetOrientation(const wmi::Property& objProperty, ArrayRowSink& rows,
                           std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetSoftwareElementState(const wmi::Property& objProperty, ArrayRowSink& rows,
                                    std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetTargetOperatingSystem(const wmi::Property& objProperty, ArrayRowSink& rows,
                                     std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetForegroundApplicationBoost(const wmi::Property& objProperty, ArrayRowSink& rows,
                                          std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetNetConnectionStatus(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetProtocol(const wmi::Property& objProperty, ArrayRowSink& rows,
                        std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetSIDType(const wmi::Property& objProperty, ArrayRowSink& rows,
                       std::string_view strItemKey = {}, std::string_view strItemText = {});
std::string GetLogonType(const wmi::Property& objProperty, ArrayRowSink& rows,
                         std::string_view strItemKey = {}, std::string_view strItemText = {});

}  // namespace kestrane
