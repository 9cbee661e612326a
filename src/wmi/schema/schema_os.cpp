// Property lists of the operating-system classes the generated schema table
// lacks, as published in the WMI class reference: one block per class, one
// "Name type origin" line per property ("." is the class itself). Performance
// classes get the common Win32_Perf properties added, and each formatted
// class is its raw twin without the "_Base" helper counters.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "wmi/schema/schema_table.h"

namespace wmi {

namespace {

const char* const kOsSchemaText = R"(
@Win32_ProgramGroup
Caption str CIM_ManagedSystemElement
Description str CIM_ManagedSystemElement
GroupName str .
InstallDate dt CIM_ManagedSystemElement
Name str CIM_ManagedSystemElement
Status str CIM_ManagedSystemElement
UserName str .
@Win32_Product
AssignmentType u16 .
Caption str CIM_Product
Description str CIM_Product
HelpLink str .
HelpTelephone str .
IdentifyingNumber str CIM_Product
InstallDate str .
InstallDate2 dt .
InstallLocation str .
InstallSource str .
InstallState s16 .
Language str .
LocalPackage str .
Name str CIM_Product
PackageCache str .
PackageCode str .
PackageName str .
ProductID str .
RegCompany str .
RegOwner str .
SKUNumber str CIM_Product
Transforms str .
URLInfoAbout str .
URLUpdateInfo str .
Vendor str CIM_Product
Version str CIM_Product
WordCount u32 .
@Win32_SoftwareElement
Attributes u16 .
BuildNumber str CIM_SoftwareElement
Caption str CIM_ManagedSystemElement
CodeSet str CIM_SoftwareElement
Description str CIM_ManagedSystemElement
IdentificationCode str CIM_SoftwareElement
InstallDate dt CIM_ManagedSystemElement
InstallState s16 .
LanguageEdition str CIM_SoftwareElement
Manufacturer str CIM_SoftwareElement
Name str CIM_SoftwareElement
OtherTargetOperatingSystem str CIM_SoftwareElement
Path str .
SerialNumber str CIM_SoftwareElement
SoftwareElementID str CIM_SoftwareElement
SoftwareElementState u16 CIM_SoftwareElement
Status str CIM_ManagedSystemElement
TargetOperatingSystem u16 CIM_SoftwareElement
Version str CIM_SoftwareElement
@Win32_SoftwareFeature
Accesses u16 .
Attributes u16 .
Caption str CIM_ManagedSystemElement
Description str CIM_ManagedSystemElement
IdentifyingNumber str CIM_SoftwareFeature
InstallDate dt CIM_ManagedSystemElement
InstallState s16 .
LastUse dt .
Name str CIM_SoftwareFeature
ProductName str CIM_SoftwareFeature
Status str CIM_ManagedSystemElement
Vendor str CIM_SoftwareFeature
Version str CIM_SoftwareFeature
@Win32_NTLogEvent
Category u16 .
CategoryString str .
ComputerName str .
Data u8[] .
EventCode u16 .
EventIdentifier u32 .
EventType u8 .
InsertionStrings str[] .
Logfile str .
Message str .
RecordNumber u32 .
SourceName str .
TimeGenerated dt .
TimeWritten dt .
Type str .
User str .
@Win32_NTEventlogFile
AccessMask u32 CIM_LogicalFile
Archive bool CIM_LogicalFile
Caption str CIM_ManagedSystemElement
Compressed bool CIM_LogicalFile
CompressionMethod str CIM_LogicalFile
CreationClassName str CIM_LogicalFile
CreationDate dt CIM_LogicalFile
CSCreationClassName str CIM_LogicalFile
CSName str CIM_LogicalFile
Description str CIM_ManagedSystemElement
Drive str CIM_LogicalFile
EightDotThreeFileName str CIM_LogicalFile
Encrypted bool CIM_LogicalFile
EncryptionMethod str CIM_LogicalFile
Extension str CIM_LogicalFile
FileName str CIM_LogicalFile
FileSize u64 CIM_LogicalFile
FileType str CIM_LogicalFile
FSCreationClassName str CIM_LogicalFile
FSName str CIM_LogicalFile
Hidden bool CIM_LogicalFile
InstallDate dt CIM_ManagedSystemElement
InUseCount u64 CIM_LogicalFile
LastAccessed dt CIM_LogicalFile
LastModified dt CIM_LogicalFile
LogfileName str .
Manufacturer str CIM_DataFile
MaxFileSize u32 .
Name str CIM_LogicalFile
NumberOfRecords u32 .
OverwriteOutDated u32 .
OverWritePolicy str .
Path str CIM_LogicalFile
Readable bool CIM_LogicalFile
Sources str[] .
Status str CIM_ManagedSystemElement
System bool CIM_LogicalFile
Version str CIM_DataFile
Writeable bool CIM_LogicalFile
@Win32_CurrentTime
Day u32 .
DayOfWeek u32 .
Hour u32 .
Milliseconds u32 .
Minute u32 .
Month u32 .
Quarter u32 .
Second u32 .
WeekInMonth u32 .
Year u32 .
@Win32_LocalTime
Day u32 Win32_CurrentTime
DayOfWeek u32 Win32_CurrentTime
Hour u32 Win32_CurrentTime
Milliseconds u32 Win32_CurrentTime
Minute u32 Win32_CurrentTime
Month u32 Win32_CurrentTime
Quarter u32 Win32_CurrentTime
Second u32 Win32_CurrentTime
WeekInMonth u32 Win32_CurrentTime
Year u32 Win32_CurrentTime
@Win32_UTCTime
Day u32 Win32_CurrentTime
DayOfWeek u32 Win32_CurrentTime
Hour u32 Win32_CurrentTime
Milliseconds u32 Win32_CurrentTime
Minute u32 Win32_CurrentTime
Month u32 Win32_CurrentTime
Quarter u32 Win32_CurrentTime
Second u32 Win32_CurrentTime
WeekInMonth u32 Win32_CurrentTime
Year u32 Win32_CurrentTime
@Win32_IP4RouteTable
Age u32 .
Caption str CIM_ManagedSystemElement
Description str CIM_ManagedSystemElement
Destination str .
Information str .
InstallDate dt CIM_ManagedSystemElement
InterfaceIndex s32 .
Mask str .
Metric1 s32 .
Metric2 s32 .
Metric3 s32 .
Metric4 s32 .
Metric5 s32 .
Name str CIM_ManagedSystemElement
NextHop str .
Protocol u32 .
Status str CIM_ManagedSystemElement
Type u32 .
@Win32_Proxy
Caption str CIM_Setting
Description str CIM_Setting
ProxyPortNumber u32 .
ProxyServer str .
ServerName str .
SettingID str CIM_Setting
@Win32_LogicalMemoryConfiguration
AvailableVirtualMemory u32 .
Caption str CIM_Setting
Description str CIM_Setting
Name str .
SettingID str CIM_Setting
TotalPageFileSpace u32 .
TotalPhysicalMemory u32 .
TotalVirtualMemory u32 .
@Win32_PerfRawData_PerfOS_Processor
C1TransitionsPersec u64 .
C2TransitionsPersec u64 .
C3TransitionsPersec u64 .
DPCRate u32 .
DPCsQueuedPersec u32 .
InterruptsPersec u32 .
PercentC1Time u64 .
PercentC2Time u64 .
PercentC3Time u64 .
PercentDPCTime u64 .
PercentIdleTime u64 .
PercentInterruptTime u64 .
PercentPrivilegedTime u64 .
PercentProcessorTime u64 .
PercentUserTime u64 .
@Win32_PerfRawData_PerfOS_Memory
AvailableBytes u64 .
AvailableKBytes u64 .
AvailableMBytes u64 .
CacheBytes u64 .
CacheBytesPeak u64 .
CacheFaultsPersec u32 .
CommitLimit u64 .
CommittedBytes u64 .
DemandZeroFaultsPersec u32 .
FreeSystemPageTableEntries u32 .
PageFaultsPersec u32 .
PageReadsPersec u32 .
PagesInputPersec u32 .
PagesOutputPersec u32 .
PagesPersec u32 .
PageWritesPersec u32 .
PercentCommittedBytesInUse u32 .
PercentCommittedBytesInUse_Base u32 .
PoolNonpagedAllocs u32 .
PoolNonpagedBytes u64 .
PoolPagedAllocs u32 .
PoolPagedBytes u64 .
PoolPagedResidentBytes u64 .
SystemCacheResidentBytes u64 .
SystemCodeResidentBytes u64 .
SystemCodeTotalBytes u64 .
SystemDriverResidentBytes u64 .
SystemDriverTotalBytes u64 .
TransitionFaultsPersec u32 .
WriteCopiesPersec u32 .
@Win32_PerfRawData_PerfOS_System
AlignmentFixupsPersec u32 .
ContextSwitchesPersec u32 .
ExceptionDispatchesPersec u32 .
FileControlBytesPersec u64 .
FileControlOperationsPersec u32 .
FileDataOperationsPersec u32 .
FileReadBytesPersec u64 .
FileReadOperationsPersec u32 .
FileWriteBytesPersec u64 .
FileWriteOperationsPersec u32 .
FloatingEmulationsPersec u32 .
PercentRegistryQuotaInUse u32 .
PercentRegistryQuotaInUse_Base u32 .
Processes u32 .
ProcessorQueueLength u32 .
SystemCallsPersec u32 .
SystemUpTime u64 .
Threads u32 .
@Win32_PerfRawData_PerfOS_PagingFile
PercentUsage u32 .
PercentUsage_Base u32 .
PercentUsagePeak u32 .
PercentUsagePeak_Base u32 .
@Win32_PerfRawData_PerfOS_Objects
Events u32 .
Mutexes u32 .
Processes u32 .
Sections u32 .
Semaphores u32 .
Threads u32 .
@Win32_PerfRawData_PerfProc_Process
CreatingProcessID u32 .
ElapsedTime u64 .
HandleCount u32 .
IDProcess u32 .
IODataBytesPersec u64 .
IODataOperationsPersec u64 .
IOOtherBytesPersec u64 .
IOOtherOperationsPersec u64 .
IOReadBytesPersec u64 .
IOReadOperationsPersec u64 .
IOWriteBytesPersec u64 .
IOWriteOperationsPersec u64 .
PageFaultsPersec u32 .
PageFileBytes u64 .
PageFileBytesPeak u64 .
PercentPrivilegedTime u64 .
PercentProcessorTime u64 .
PercentUserTime u64 .
PoolNonpagedBytes u32 .
PoolPagedBytes u32 .
PriorityBase u32 .
PrivateBytes u64 .
ThreadCount u32 .
VirtualBytes u64 .
VirtualBytesPeak u64 .
WorkingSet u64 .
WorkingSetPeak u64 .
WorkingSetPrivate u64 .
@Win32_PerfRawData_PerfProc_Thread
ContextSwitchesPersec u32 .
ElapsedTime u64 .
IDProcess u32 .
IDThread u32 .
PercentPrivilegedTime u64 .
PercentProcessorTime u64 .
PercentUserTime u64 .
PriorityBase u32 .
PriorityCurrent u32 .
StartAddress u32 .
ThreadState u32 .
ThreadWaitReason u32 .
@Win32_PerfRawData_PerfDisk_PhysicalDisk
AvgDiskBytesPerRead u64 .
AvgDiskBytesPerRead_Base u32 .
AvgDiskBytesPerTransfer u64 .
AvgDiskBytesPerTransfer_Base u32 .
AvgDiskBytesPerWrite u64 .
AvgDiskBytesPerWrite_Base u32 .
AvgDiskQueueLength u64 .
AvgDiskReadQueueLength u64 .
AvgDisksecPerRead u32 .
AvgDisksecPerRead_Base u32 .
AvgDisksecPerTransfer u32 .
AvgDisksecPerTransfer_Base u32 .
AvgDisksecPerWrite u32 .
AvgDisksecPerWrite_Base u32 .
AvgDiskWriteQueueLength u64 .
CurrentDiskQueueLength u32 .
DiskBytesPersec u64 .
DiskReadBytesPersec u64 .
DiskReadsPersec u32 .
DiskTransfersPersec u32 .
DiskWriteBytesPersec u64 .
DiskWritesPersec u32 .
PercentDiskReadTime u64 .
PercentDiskReadTime_Base u64 .
PercentDiskTime u64 .
PercentDiskTime_Base u64 .
PercentDiskWriteTime u64 .
PercentDiskWriteTime_Base u64 .
PercentIdleTime u64 .
PercentIdleTime_Base u64 .
SplitIOPerSec u32 .
@Win32_PerfRawData_PerfDisk_LogicalDisk
AvgDiskBytesPerRead u64 .
AvgDiskBytesPerRead_Base u32 .
AvgDiskBytesPerTransfer u64 .
AvgDiskBytesPerTransfer_Base u32 .
AvgDiskBytesPerWrite u64 .
AvgDiskBytesPerWrite_Base u32 .
AvgDiskQueueLength u64 .
AvgDiskReadQueueLength u64 .
AvgDisksecPerRead u32 .
AvgDisksecPerRead_Base u32 .
AvgDisksecPerTransfer u32 .
AvgDisksecPerTransfer_Base u32 .
AvgDisksecPerWrite u32 .
AvgDisksecPerWrite_Base u32 .
AvgDiskWriteQueueLength u64 .
CurrentDiskQueueLength u32 .
DiskBytesPersec u64 .
DiskReadBytesPersec u64 .
DiskReadsPersec u32 .
DiskTransfersPersec u32 .
DiskWriteBytesPersec u64 .
DiskWritesPersec u32 .
FreeMegabytes u32 .
PercentDiskReadTime u64 .
PercentDiskReadTime_Base u64 .
PercentDiskTime u64 .
PercentDiskTime_Base u64 .
PercentDiskWriteTime u64 .
PercentDiskWriteTime_Base u64 .
PercentFreeSpace u32 .
PercentFreeSpace_Base u32 .
PercentIdleTime u64 .
PercentIdleTime_Base u64 .
SplitIOPerSec u32 .
@Win32_PerfRawData_Tcpip_IP
DatagramsForwardedPersec u32 .
DatagramsOutboundDiscarded u32 .
DatagramsOutboundNoRoute u32 .
DatagramsPersec u32 .
DatagramsReceivedAddressErrors u32 .
DatagramsReceivedDeliveredPersec u32 .
DatagramsReceivedDiscarded u32 .
DatagramsReceivedHeaderErrors u32 .
DatagramsReceivedPersec u32 .
DatagramsReceivedUnknownProtocol u32 .
DatagramsSentPersec u32 .
FragmentationFailures u32 .
FragmentedDatagramsPersec u32 .
FragmentReassemblyFailures u32 .
FragmentsCreatedPersec u32 .
FragmentsReassembledPersec u32 .
FragmentsReceivedPersec u32 .
@Win32_PerfRawData_Tcpip_TCP
ConnectionFailures u32 .
ConnectionsActive u32 .
ConnectionsEstablished u32 .
ConnectionsPassive u32 .
ConnectionsReset u32 .
SegmentsPersec u32 .
SegmentsReceivedPersec u32 .
SegmentsRetransmittedPersec u32 .
SegmentsSentPersec u32 .
@Win32_PerfRawData_Tcpip_UDP
DatagramsNoPortPersec u32 .
DatagramsPersec u32 .
DatagramsReceivedErrors u32 .
DatagramsReceivedPersec u32 .
DatagramsSentPersec u32 .
@Win32_PerfRawData_Tcpip_ICMP
MessagesOutboundErrors u32 .
MessagesPersec u32 .
MessagesReceivedErrors u32 .
MessagesReceivedPersec u32 .
MessagesSentPersec u32 .
ReceivedAddressMask u32 .
ReceivedAddressMaskReply u32 .
ReceivedDestUnreachable u32 .
ReceivedEchoPersec u32 .
ReceivedEchoReplyPersec u32 .
ReceivedParameterProblem u32 .
ReceivedRedirectPersec u32 .
ReceivedSourceQuench u32 .
ReceivedTimeExceeded u32 .
ReceivedTimestampPersec u32 .
ReceivedTimestampReplyPersec u32 .
SentAddressMask u32 .
SentAddressMaskReply u32 .
SentDestinationUnreachable u32 .
SentEchoPersec u32 .
SentEchoReplyPersec u32 .
SentParameterProblem u32 .
SentRedirectPersec u32 .
SentSourceQuench u32 .
SentTimeExceeded u32 .
SentTimestampPersec u32 .
SentTimestampReplyPersec u32 .
@Win32_PerfRawData_Tcpip_NetworkInterface
BytesReceivedPersec u32 .
BytesSentPersec u32 .
BytesTotalPersec u64 .
CurrentBandwidth u32 .
OutputQueueLength u32 .
PacketsOutboundDiscarded u32 .
PacketsOutboundErrors u32 .
PacketsPersec u32 .
PacketsReceivedDiscarded u32 .
PacketsReceivedErrors u32 .
PacketsReceivedNonUnicastPersec u32 .
PacketsReceivedPersec u32 .
PacketsReceivedUnicastPersec u32 .
PacketsReceivedUnknown u32 .
PacketsSentNonUnicastPersec u32 .
PacketsSentPersec u32 .
PacketsSentUnicastPersec u32 .
)";

int TypeCode(const std::string& t, bool& isArray) {
    std::string base = t;
    isArray = base.size() > 2 && base.compare(base.size() - 2, 2, "[]") == 0;
    if (isArray) base.resize(base.size() - 2);
    static const std::map<std::string, int> codes = {
        {"u8", CIM_UINT8},   {"u16", CIM_UINT16}, {"u32", CIM_UINT32},   {"u64", CIM_UINT64},
        {"s16", CIM_SINT16}, {"s32", CIM_SINT32}, {"s64", CIM_SINT64},   {"str", CIM_STRING},
        {"bool", CIM_BOOLEAN}, {"dt", CIM_DATETIME}, {"r64", CIM_REAL64},
    };
    auto it = codes.find(base);
    if (it == codes.end()) throw std::logic_error("schema_os: unknown type " + t);
    return it->second;
}

bool LessNoCase(const PropertyDecl& a, const PropertyDecl& b) {
    return ToLowerAscii(a.name) < ToLowerAscii(b.name);
}

std::map<std::string, SchemaPtr> BuildSchemas() {
    std::map<std::string, std::pair<std::string, std::vector<PropertyDecl>>> classes;
    std::istringstream in(kOsSchemaText);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line[0] == '@') {
            current = line.substr(1);
            classes[ToLowerAscii(current)].first = current;
            continue;
        }
        std::istringstream ls(line);
        std::string name, type, origin;
        ls >> name >> type >> origin;
        bool arr = false;
        int code = TypeCode(type, arr);
        classes[ToLowerAscii(current)].second.push_back(
            PropertyDecl{name, code, arr, origin == "." ? current : origin});
    }
    // Every performance class carries the statistics header of Win32_Perf.
    const std::vector<PropertyDecl> perfBase = {
        {"Caption", CIM_STRING, false, "CIM_StatisticalInformation"},
        {"Description", CIM_STRING, false, "CIM_StatisticalInformation"},
        {"Name", CIM_STRING, false, "CIM_StatisticalInformation"},
        {"Frequency_Object", CIM_UINT64, false, "Win32_Perf"},
        {"Frequency_PerfTime", CIM_UINT64, false, "Win32_Perf"},
        {"Frequency_Sys100NS", CIM_UINT64, false, "Win32_Perf"},
        {"Timestamp_Object", CIM_UINT64, false, "Win32_Perf"},
        {"Timestamp_PerfTime", CIM_UINT64, false, "Win32_Perf"},
        {"Timestamp_Sys100NS", CIM_UINT64, false, "Win32_Perf"},
    };
    const std::string rawPrefix = "Win32_PerfRawData_";
    std::vector<std::pair<std::string, std::vector<PropertyDecl>>> formatted;
    for (auto& [key, cls] : classes) {
        if (cls.first.rfind(rawPrefix, 0) != 0) continue;
        std::string set = cls.first.substr(rawPrefix.size());
        cls.second.insert(cls.second.end(), perfBase.begin(), perfBase.end());
        std::string fname = "Win32_PerfFormattedData_" + set;
        std::vector<PropertyDecl> props;
        for (const auto& p : cls.second) {
            if (p.name.size() > 5 && p.name.compare(p.name.size() - 5, 5, "_Base") == 0) continue;
            PropertyDecl d = p;
            if (d.origin == cls.first) d.origin = fname;
            props.push_back(d);
        }
        formatted.emplace_back(fname, std::move(props));
    }
    for (auto& [name, props] : formatted) classes[ToLowerAscii(name)] = {name, std::move(props)};
    std::map<std::string, SchemaPtr> out;
    for (auto& [key, cls] : classes) {
        std::stable_sort(cls.second.begin(), cls.second.end(), LessNoCase);
        out.emplace(key, std::make_shared<const ClassSchema>(cls.first, std::move(cls.second)));
    }
    return out;
}

}  // namespace

SchemaPtr LookupOsSchema(std::string_view className) {
    static const std::map<std::string, SchemaPtr> schemas = BuildSchemas();
    auto it = schemas.find(ToLowerAscii(className));
    return it == schemas.end() ? nullptr : it->second;
}

SchemaPtr LookupSchema(std::string_view className) {
    // Only where each class's rows lie is found up front; a class's schema is
    // built when first asked for and kept, since a run uses a few of the
    // table's classes.
    struct Entry {
        std::vector<std::pair<std::size_t, std::size_t>> ranges;  // [first, last) of kSchemaRows
        SchemaPtr schema;
    };
    static std::unordered_map<std::string, Entry> table = [] {
        std::unordered_map<std::string, Entry> t;
        for (std::size_t i = 0; i < kSchemaRowCount;) {
            std::size_t j = i + 1;
            while (j < kSchemaRowCount && std::strcmp(kSchemaRows[j].className, kSchemaRows[i].className) == 0) ++j;
            t[ToLowerAscii(kSchemaRows[i].className)].ranges.emplace_back(i, j);
            i = j;
        }
        return t;
    }();
    static std::mutex mutex;
    auto it = table.find(ToLowerAscii(className));
    if (it == table.end()) return LookupOsSchema(className);
    std::lock_guard lock(mutex);
    Entry& e = it->second;
    if (!e.schema) {
        std::vector<PropertyDecl> props;
        for (auto [first, last] : e.ranges)
            for (std::size_t i = first; i < last; ++i) {
                const SchemaRow& r = kSchemaRows[i];
                props.push_back(PropertyDecl{r.name, r.cimType, r.isArray, r.origin});
            }
        e.schema = std::make_shared<const ClassSchema>(kSchemaRows[e.ranges.front().first].className, std::move(props));
    }
    return e.schema;
}

}  // namespace wmi
