// The print system's configuration files (CUPS), as pure functions of text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wmi::lnx {

struct CupsPrinter {
    std::string name;
    bool isDefault = false;
    std::optional<std::string> info, location, makeModel, deviceUri, state;
    std::optional<bool> accepting, shared;
};

// printers.conf: <Printer NAME> or <DefaultPrinter NAME> blocks of
// "Key value" lines. A block left open at the end still counts; lines outside
// blocks and unknown keys are ignored.
std::vector<CupsPrinter> ParseCupsPrinters(std::string_view text);

// printcap as CUPS writes it for programs that cannot read printers.conf:
// "name|info:rm=host:rp=queue:" per line, '#' comments.
std::vector<CupsPrinter> ParsePrintcap(std::string_view text);

struct DeviceUri {
    std::string scheme, host, queue;
    std::optional<int> port;
};

// "socket://host:9100", "ipp://host/printers/q", "lpd://host/queue"; nothing
// for a URI without "://".
std::optional<DeviceUri> ParseDeviceUri(std::string_view uri);

// Where cupsd keeps its files: RequestRoot and CacheDir of cups-files.conf,
// else the defaults.
struct CupsDirectories {
    std::string spool = "/var/spool/cups";
    std::string cache = "/var/cache/cups";
};
CupsDirectories ParseCupsFilesConf(std::string_view text);

// A print job as cupsd keeps it, from its control file or job.cache.
struct CupsJob {
    int id = 0;
    // IPP job-state: 3 pending, 4 held, 5 processing, 6 stopped, then the
    // finished ones cupsd keeps for history: 7 canceled, 8 aborted, 9 completed.
    std::optional<int> state;
    std::optional<std::string> printer, name, user, host, format, media, colorMode;
    std::optional<std::int64_t> created, processing;  // seconds since the epoch
    std::optional<int> priority, kOctets, impressions, impressionsCompleted, sheetsCompleted;

    bool queued() const { return state && *state >= 3 && *state <= 6; }
};

// job.cache: <Job N> blocks of "Key value" lines, values escaped as
// cupsFilePutConf does ('#', '\', line breaks). Blocks without a positive id
// and unknown keys are skipped; a state out of range is clamped as cupsd does.
std::vector<CupsJob> ParseJobCache(std::string_view text);

struct IppMessage;
// The job in a control file's attributes; its id comes from the file name.
CupsJob JobFromAttributes(const IppMessage& m, int id);
// What `job` lacks, taken from `other` (the same job from another file).
void FillJobFrom(CupsJob& job, const CupsJob& other);

// "c00042" or its backup "c00042.O" -> 42; nothing for other names.
std::optional<int> ControlFileJobId(std::string_view fileName);
// The name of a job's control file in the spool, as cupsd gives it ("c%05d").
std::string ControlFileName(int id);
// The queue of a job-printer-uri: ".../printers/NAME" or ".../classes/NAME".
std::optional<std::string> QueueFromPrinterUri(std::string_view uri);

// A PWG self-describing media name ("na_letter_8.5x11in", "iso_a4_210x297mm")
// as width and length in tenths of a millimetre.
struct MediaSize {
    int width = 0, length = 0;
};
std::optional<MediaSize> ParsePwgMediaSize(std::string_view media);

}  // namespace wmi::lnx
