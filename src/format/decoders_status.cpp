// Device status, the generic array rows, printer attribute bits and the
// battery's charge.
#include "format/decoder_kinds.h"
#include "format/decoders.h"

namespace kestrane {

using namespace decode;

namespace {

// Device Manager's problem texts, as Windows words them.
constexpr CodeEntry kConfigManagerErrorCode[] = {
    {0, "This device is working properly."},
    {1, "This device is not configured correctly."},
    {2, "Windows cannot load the driver for this device."},
    {3, "The driver for this device might be corrupted, or your system may be running low on memory or "
        "other resources."},
    {4, "This device is not working properly. One of its drivers or your registry might be corrupted."},
    {5, "The driver for this device needs a resource that Windows cannot manage."},
    {6, "The boot configuration for this device conflicts with other devices."},
    {7, "Cannot filter."},
    {8, "The driver loader for the device is missing."},
    {9, "This device is not working properly because the controlling firmware is reporting the resources "
        "for the device incorrectly."},
    {10, "This device cannot start."},
    {11, "This device failed."},
    {12, "This device cannot find enough free resources that it can use."},
    {13, "Windows cannot verify this device's resources."},
    {14, "This device cannot work properly until you restart your computer."},
    {15, "This device is not working properly because there is probably a re-enumeration problem."},
    {16, "Windows cannot identify all the resources this device uses."},
    {17, "This device is asking for an unknown resource type."},
    {18, "Reinstall the drivers for this device."},
    {19, "Failure using the VxD loader."},
    {20, "Your registry might be corrupted."},
    {21, "System failure: Try changing the driver for this device. If that does not work, see your hardware "
         "documentation. Windows is removing this device."},
    {22, "This device is disabled."},
    {23, "System failure: Try changing the driver for this device. If that doesn't work, see your hardware "
         "documentation."},
    {24, "This device is not present, is not working properly, or does not have all its drivers installed."},
    {25, "Windows is still setting up this device."},
    {26, "Windows is still setting up this device."},
    {27, "This device does not have valid log configuration."},
    {28, "The drivers for this device are not installed."},
    {29, "This device is disabled because the firmware of the device did not give it the required "
         "resources."},
    {30, "This device is using an Interrupt Request (IRQ) resource that another device is using."},
    {31, "This device is not working properly because Windows cannot load the drivers required for this "
         "device."},
};

// A DMA channel's availability means something else than a device's.
constexpr CodeEntry kDmaAvailability[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Available"},
    {4, "In Use/Not Available"},
    {5, "In Use and Available/Shareable"},
};

constexpr CodeEntry kDeviceAvailability[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Running/Full Power"},
    {4, "Warning"},
    {5, "In Test"},
    {6, "Not Applicable"},
    {7, "Power Off"},
    {8, "Off Line"},
    {9, "Off Duty"},
    {10, "Degraded"},
    {11, "Not Installed"},
    {12, "Install Error"},
    {13, "Power Save - Unknown"},
    {14, "Power Save - Low Power Mode"},
    {15, "Power Save - Standby"},
    {16, "Power Cycle"},
    {17, "Power Save - Warning"},
    {18, "Paused"},
    {19, "Not Ready"},
    {20, "Not Configured"},
    {21, "Quiesced"},
};

constexpr CodeEntry kStatusInfo[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Enabled"}, {4, "Disabled"}, {5, "Not Applicable"},
};

constexpr CodeEntry kCapabilities[] = {
    {0, "Unknown("},
    {1, "Other("},
    {2, "Sequential Access("},
    {3, "Random Access("},
    {4, "Supports Writing("},
    {5, "Encryption("},
    {6, "Compression("},
    {7, "Supports Removable Media("},
    {8, "Manual Cleaning("},
    {9, "Automatic Cleaning("},
    {10, "SMART Notification("},
    {11, "Supports Dual Sided Media("},
    {12, "Ejection Prior to Drive Dismount Not Required("},
};

constexpr CodeEntry kPowerManagementCapabilities[] = {
    {0, "Unknown("},
    {1, "Not Supported("},
    {2, "Disabled("},
    {3, "Enabled("},
    {4, "Power Saving Modes Entered Automatically("},
    {5, "Power State Settable("},
    {6, "Power Cycling Supported("},
    {7, "Timed Power On Supported("},
};

// Printer attribute bits (PRINTER_ATTRIBUTE_*), in the order they are listed.
constexpr CodeEntry kAttributeFlags[] = {
    {1, "Queued"},
    {2, "Direct"},
    {4, "Default"},
    {8, "Shared"},
    {16, "Network"},
    {32, "Hidden"},
    {64, "Local"},
    {128, "Enable device queue"},
    {256, "Keep printed jobs"},
    {512, "Do complete first"},
    {1024, "Work Offline"},
    {2048, "Enable bi-directonal printing"},
    {4096, "Raw only"},
    {8192, "Published"},
};

}  // namespace

std::string GetConfigManagerErrorCode(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                      std::string_view) {
    return SuffixForm(objProperty, kConfigManagerErrorCode, Fallback::Value);
}

std::string GetAvailability(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    if (objProperty.origin() == "CIM_DMA")
        return SuffixForm(objProperty, kDmaAvailability, Fallback::Value);
    return SuffixForm(objProperty, kDeviceAvailability, Fallback::None);
}

std::string GetStatusInfo(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                          std::string_view) {
    return SuffixForm(objProperty, kStatusInfo, Fallback::None);
}

std::string GetCapabilities(const wmi::Property& objProperty, ArrayRowSink& rows, std::string_view strItemKey,
                            std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Paren, kCapabilities, Fallback::None, ArrayResult::ElementText});
}

std::string GetPowerManagementCapabilities(const wmi::Property& objProperty, ArrayRowSink& rows,
                                           std::string_view strItemKey, std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Paren, kPowerManagementCapabilities, Fallback::None,
                      ArrayResult::ElementText});
}

std::string GetArrayValues(const wmi::Property& objProperty, ArrayRowSink& rows, std::string_view strItemKey,
                           std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::OwnText, {}, Fallback::None, ArrayResult::ElementText});
}

std::string GetAttributes(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                          std::string_view) {
    return FlagsForm(objProperty, kAttributeFlags);
}

std::string GetEstimatedChargeRemaining(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                        std::string_view) {
    return UnitForm(objProperty, " %");
}

}  // namespace kestrane
