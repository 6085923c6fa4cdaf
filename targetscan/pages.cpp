// The known mode pages: for each, its fields in printing order.
// Positions are offsets from the page's byte 0; bit fields give the mask
// (and, for shifted fields, the shift to bit 0).
#include "targetscan/targetscan.h"

#include <iterator>

static const PageField read_write_recovery[] = {
    {"Autowrite realloc enabled", B1, 2, 0x80, 0, "%s"},
    {"Autoread realloc enabled", B1, 2, 0x40, 0, "%s"},
    {"Transfer block", B1, 2, 0x20, 0, "%s"},
    {"Read continuous", B1, 2, 0x10, 0, "%s"},
    {"Enable early correction", B1, 2, 0x08, 0, "%s"},
    {"Post error", B1, 2, 0x04, 0, "%s"},
    {"Disable transfer on error", B1, 2, 0x02, 0, "%s"},
    {"Disable correction", B1, 2, 0x01, 0, "%s"},
    {"Read retry count", P1, 3, 0, 0, "%d"},
    {"Correction span", P1, 4, 0, 0, "%d"},
    {"Head offset count", P1, 5, 0, 0, "%d"},
    {"Data strobe off. cnt", P1, 6, 0, 0, "%d"},
    {"Write retry count", P1, 8, 0, 0, "%d"},
    {"Recovery time limit", P2, 10, 0, 0, "%d"},
};

static const PageField disconnect_reconnect[] = {
    {"Buffer full ratio", P1, 2, 0, 0, "%d"},
    {"Buffer empty ratio", P1, 3, 0, 0, "%d"},
    {"Bus inactivity limit", P2, 4, 0, 0, "%d"},
    {"Disc. time limit", P2, 6, 0, 0, "%d"},
    {"Conn. time limit", P2, 8, 0, 0, "%d"},
    {"Max burst size", P2, 10, 0, 0, "%d"},
    {"Data Transfer Disconnect Contr.", BS1, 12, 0x03, 0, "%d"},
};

static const PageField scanner_units[] = {
    {"Basic Measurement Unit", P1, 2, 0, 0, "%d"},
    {"Measurement Unit Divisor", P2, 4, 0, 0, "%d"},
};

static const PageField format_parameters[] = {
    {"Tracks/zone", P2, 2, 0, 0, "%d"},
    {"AltSect/zone", P2, 4, 0, 0, "%d"},
    {"AltTrack/zone", P2, 6, 0, 0, "%d"},
    {"AltTrack/LU", P2, 8, 0, 0, "%d"},
    {"Sect/track", P2, 10, 0, 0, "%d"},
    {"Byte/sect", P2, 12, 0, 0, "%d"},
    {"InterLeave", P2, 14, 0, 0, "%d"},
    {"Track skew", P2, 16, 0, 0, "%d"},
    {"Cyl. skew", P2, 18, 0, 0, "%d"},
    {"Soft SECtor formatting", B1, 20, 0x80, 0, "%s"},
    {"Hard SECtor formatting", B1, 20, 0x40, 0, "%s"},
    {"ReMovaBle", B1, 20, 0x20, 0, "%s"},
    {"SURFace allocation", BS1, 20, 0x01, 4, "%d"},
};

static const PageField rigid_disk_geometry[] = {
    {"Cylinders", P3, 2, 0, 0, "%d"},
    {"Heads", P1, 5, 0, 0, "%d"},
    {"Write Precomp cyl start", P3, 6, 0, 0, "%d"},
    {"Reduced Write Current cyl start", P3, 9, 0, 0, "%d"},
    {"Drive Step rate", P2, 12, 0, 0, "%d"},
    {"Landing zone cylinder", P3, 14, 0, 0, "%d"},
    {"Rotation Pos. Lck", BS1, 17, 0x03, 0, "%d"},
    {"Rotation offset", P1, 18, 0, 0, "%d"},
    {"RPM", P2, 20, 0, 0, "%d"},
};

static const PageField flexible_disk[] = {
    {"Transfer Rate", P2, 2, 0, 0, "%dkb/s"},
    {"Heads", P1, 4, 0, 0, "%d"},
    {"Sectors/Track", P1, 5, 0, 0, "%d"},
    {"Data Bytes/Sector", P2, 6, 0, 0, "%d"},
    {"Cylinders", P2, 8, 0, 0, "%d"},
    {"Write Precomp cyl start", P2, 10, 0, 0, "%d"},
    {"Reduced Write Current cyl start", P2, 12, 0, 0, "%d"},
    {"Drive Step rate", P2, 14, 0, 0, "%d"},
    {"Drive Step Pulse Width", P1, 16, 0, 0, "%d"},
    {"Head Settle Delay", P2, 17, 0, 0, "%d"},
    {"Motor on Delay", P1, 19, 0, 0, "%d"},
    {"Motor off Delay", P1, 20, 0, 0, "%d"},
    {"True Ready", B1, 21, 0x80, 0, "%s"},
    {"Start Sector Number with 1", B1, 21, 0x40, 0, "%s"},
    {"Motor On", B1, 21, 0x20, 0, "%s"},
    {"Step Pulse Per Cylinder", BS1, 22, 0x0F, 0, "%d"},
    {"Write Compensation", P1, 23, 0, 0, "%d"},
    {"Head Load Delay", P1, 24, 0, 0, "%d"},
    {"Head Unload Delay", P1, 25, 0, 0, "%d"},
    {"Pin 34", BS1, 26, 0x0F, 4, "%d"},
    {"Pin 2", BS1, 26, 0x0F, 0, "%d"},
    {"Pin 4", BS1, 27, 0x0F, 4, "%d"},
    {"Pin 1", BS1, 27, 0x0F, 0, "%d"},
    {"Medium Rotation Rate", P2, 28, 0, 0, "%d"},
};

static const PageField optical_memory[] = {
    {"Report Updated Block Read", B1, 2, 0x01, 0, "%s"},
};

static const PageField verify_recovery[] = {
    {"Enable Early Recovery", B1, 2, 0x08, 0, "%s"},
    {"Post Error", B1, 2, 0x04, 0, "%s"},
    {"Disable Transfer on Error", B1, 2, 0x02, 0, "%s"},
    {"Disable Correction", B1, 2, 0x01, 0, "%s"},
    {"Verify retry count", P1, 3, 0, 0, "%d"},
    {"Verify retry span", P1, 4, 0, 0, "%d"},
    {"Recovery time limit", P2, 10, 0, 0, "%d"},
};

static const PageField caching[] = {
    {"Write cache enable", B1, 2, 0x04, 0, "%s"}, {"Multiplication factor", B1, 2, 0x02, 0, "%s"},
    {"Read cache disable", B1, 2, 0x01, 0, "%s"}, {"Demand rd reten. pri", BS1, 3, 0x0F, 4, "%d"},
    {"Write reten. pri", BS1, 3, 0x0F, 0, "%d"},  {"Dis. pre-fetch xfer-len", P2, 4, 0, 0, "%d"},
    {"Minimum pre-fetch", P2, 6, 0, 0, "%d"},     {"Maximum pre-fetch:", P2, 8, 0, 0, "%d"},
    {"Max pre-fetch-ceil", P2, 10, 0, 0, "%d"},
};

static const PageField peripheral_device[] = {
    {"Interface Identifier", P2, 2, 0, 0, "%d"},
};

static const PageField control_mode[] = {
    {"Report Log Exception Condition", B1, 2, 0x01, 0, "%s"},
    {"Queue Alg. modifier", BS1, 3, 0x0F, 4, "%d"},
    {"Queue Err. mgmt", BS1, 3, 0x01, 1, "%d"},
    {"Disable queing", BS1, 3, 0x01, 0, "%d"},
    {"Enbl Extdd Conting. Allegiance", BS1, 4, 0x01, 7, "%d"},
    {"Ready AEN Permission", BS1, 4, 0x01, 2, "%d"},
    {"Unit Attention AEN Permission", BS1, 4, 0x01, 1, "%d"},
    {"Error AEN Permission", BS1, 4, 0x01, 0, "%d"},
    {"EAN Holdoff", P2, 6, 0, 0, "%d"},
};

static const PageField media_types[] = {
    {"Medium type 1", P1, 4, 0, 0, "%d"},
    {"Medium type 2", P1, 5, 0, 0, "%d"},
    {"Medium type 3", P1, 6, 0, 0, "%d"},
    {"Medium type 4", P1, 7, 0, 0, "%d"},
};

static const PageField notch_partition[] = {
    {"Notched drive", BS1, 2, 0x01, 7, "%d"},  {"Log/Phys notch", BS1, 2, 0x01, 6, "%d"},
    {"Max notches", P2, 4, 0, 0, "%d"},        {"Active notch", P2, 6, 0, 0, "%d"},
    {"Start boundary", P2, 8, 0, 0, "%d"},     {"End boundary", P2, 10, 0, 0, "%d"},
    {"Pages notched", P2, 12, 0, 0, "0x%04x"},
};

static const PageField cdrom_parameters[] = {
    {"Inactivity Timer Multiplier", BS1, 3, 0x0F, 4, "%d"},
    {"#of MSF-S Units per MSF-M", P2, 4, 0, 0, "%d"},
    {"#of MSF-F Units per MSF-S", P2, 6, 0, 0, "%d"},
};

static const PageField cdrom_audio[] = {
    {"Immediate Completion Status", B1, 2, 0x04, 0, "%s"},
    {"Stop On Track Crossing", B1, 2, 0x02, 0, "%s"},
    {"Audio Playback Rate Val(id)", B1, 5, 0x80, 0, "%s"},
    {"Format of Log. Blocks Addr./Sec", BS1, 5, 0x0F, 4, "%d"},
    {"Log.Blocks/Sec of AudioPlayback", P2, 6, 0, 0, "%d"},
    {"Output Port 0 Channel Selection", BS1, 8, 0x0F, 4, "0x0%x"},
    {"Output Port 0 Volume", P1, 9, 0, 0, "%d"},
    {"Output Port 1 Channel Selection", BS1, 10, 0x0F, 4, "0x0%x"},
    {"Output Port 1 Volume", P1, 11, 0, 0, "%d"},
    {"Output Port 2 Channel Selection", BS1, 12, 0x0F, 4, "0x0%x"},
    {"Output Port 2 Volume", P1, 13, 0, 0, "%d"},
    {"Output Port 3 Channel Selection", BS1, 14, 0x0F, 4, "0x0%x"},
    {"Output Port 3 Volume", P1, 15, 0, 0, "%d"},
};

static const PageField device_configuration[] = {
    {"Change Active Partition", B1, 2, 0x40, 0, "%s"},
    {"Change Active Format", B1, 2, 0x20, 0, "%s"},
    {"Active Format", BS1, 2, 0x0F, 0, "%d"},
    {"Active Partition", P1, 3, 0, 0, "%d"},
    {"Write Buffer Full Ratio", P1, 4, 0, 0, "%d"},
    {"Read Buffer Empty Ratio", P1, 5, 0, 0, "%d"},
    {"Write Delay Time", P2, 6, 0, 0, "%d"},
    {"Data Buffer Recovery", B1, 8, 0x80, 0, "%s"},
    {"Block Identifiers Supported", B1, 8, 0x40, 0, "%s"},
    {"Report Setmarks (RSmk)", B1, 8, 0x20, 0, "%s"},
    {"Automatic Velocity Control", B1, 8, 0x10, 0, "%s"},
    {"Stop On Consecutive Filemarks", BS1, 8, 0x03, 2, "%d"},
    {"Recover Buffer Order", B1, 8, 0x02, 0, "%s"},
    {"Report Early-Warning", B1, 8, 0x01, 0, "%s"},
    {"Gap Size", P1, 9, 0, 0, "%d"},
    {"EOD Defined", BS1, 10, 0x07, 5, "%d"},
    {"Enable Eod Generation", B1, 10, 0x10, 0, "%s"},
    {"Synchronize at Early-Warning", B1, 10, 0x04, 0, "%s"},
    {"Buffer Size at Early Warning", P3, 11, 0, 0, "%d"},
    {"Select Data Compression Algorithm", P1, 12, 0, 0, "%d"},
};

static const PageField medium_partition_1[] = {
    {"Maximum Additional Partitions", P1, 2, 0, 0, "%d"},
    {"Additional Partitions Defined", P1, 3, 0, 0, "%d"},
    {"Fixed Data Partitions", B1, 4, 0x80, 0, "%s"},
    {"Select Data Partitions", B1, 4, 0x40, 0, "%s"},
    {"Initiator-Defined Partitions", B1, 4, 0x20, 0, "%s"},
    {"Partition Size Unit of Measure", BS1, 4, 0x03, 3, "%d"},
    {"Medium Format Recognition", P1, 5, 0, 0, "%d"},
};

static const PageField element_addresses[] = {
    {"Medium Transport Element Address", P2, 2, 0, 0, "%d"},
    {"Number of Medium Transport Elements", P2, 4, 0, 0, "%d"},
    {"First Storage Element Address", P2, 6, 0, 0, "%d"},
    {"Number of Storage Elements", P2, 8, 0, 0, "%d"},
    {"First Import Export Element Addres", P2, 10, 0, 0, "%d"},
    {"Number of Import Export Elements", P2, 12, 0, 0, "%d"},
    {"First Data Transfer Element Address", P2, 14, 0, 0, "%d"},
    {"Number of Data Transfer Elements", P2, 16, 0, 0, "%d"},
};

// Each byte holds four flags in bits 7, 6, 5 and 4.
// clang-format off
#define FLAGS4(byte, a, b, c, d) \
    {a, B1, byte, 0x80, 0, "%s"}, {b, B1, byte, 0x40, 0, "%s"}, \
    {c, B1, byte, 0x20, 0, "%s"}, {d, B1, byte, 0x10, 0, "%s"}
// clang-format on

static const PageField device_capabilities[] = {
    FLAGS4(2, "StorDT", "StorI/E", "StorST", "StorM"),
    FLAGS4(4, "MT->DT", "MT->I/E", "MT->ST", "MT->MT"),
    FLAGS4(5, "ST->DT", "ST->I/E", "ST->ST", "ST->MT"),
    FLAGS4(6, "I/E->DT", "I/E->I/E", "I/E->ST", "I/E->MT"),
    FLAGS4(7, "DT->DT", "DT->I/E", "DT->ST", "DT->MT"),
    FLAGS4(12, "MT<>DT", "MT<>I/E", "MT<>ST", "MT<>MT"),
    FLAGS4(13, "ST<>DT", "ST<>I/E|", "ST<>ST", "ST<>MT"),
    FLAGS4(14, "I/E<>DT", "I/E<>I/E", "I/E<>ST", "I/E<>MT"),
    FLAGS4(15, "DT<>DT", "DT<>I/E", "DT<>ST", "DT<>MT"),
};

static const PageField ccs_caching[] = {
    {"Cache control and size", P1, 2, 0, 0, "%d"}, {"Prefetch threshold", P1, 3, 0, 0, "%d"},
    {"Max. prefetch", P1, 4, 0, 0, "%d"},          {"Max. prefetch multiplier", P1, 5, 0, 0, "%d"},
    {"Min. prefetch", P1, 6, 0, 0, "%d"},          {"Min. prefetch multiplier", P1, 7, 0, 0, "%d"},
};

#define FIELDS(a) a, (int)std::size(a)
#define TITLE_ONLY nullptr, 0

// Page 3 reads differently on a scanner (device type 6): its entry comes
// first and the lookup takes the first that fits.
static const PageEntry page_table[] = {
    {0x01, -1, "Read-Write Error Recovery Parameters", FIELDS(read_write_recovery)},
    {0x02, -1, "Disconnect-Reconnect Page", FIELDS(disconnect_reconnect)},
    {0x03, 6, "Scanner Measurement Units Page", FIELDS(scanner_units)},
    {0x03, -1, "Direct Access Device Format Parameters", FIELDS(format_parameters)},
    {0x04, -1, "Rigid Disk Drive Geometry Parameters", FIELDS(rigid_disk_geometry)},
    {0x05, -1, "Flexible Disk Parameters", FIELDS(flexible_disk)},
    {0x06, -1, "Optical Memory Page", FIELDS(optical_memory)},
    {0x07, -1, "Verify Error Recovery Page", FIELDS(verify_recovery)},
    {0x08, -1, "Caching Page", FIELDS(caching)},
    {0x09, -1, "Peripheral Device Page", FIELDS(peripheral_device)},
    {0x0a, -1, "Control Mode Page", FIELDS(control_mode)},
    {0x0b, -1, "Media Types Supported Page", FIELDS(media_types)},
    {0x0c, -1, "Notch and Partition Page", FIELDS(notch_partition)},
    {0x0d, -1, "CD-ROM Parameters Page", FIELDS(cdrom_parameters)},
    {0x0e, -1, "CD-ROM Page", FIELDS(cdrom_audio)},
    {0x10, -1, "Device Configuration Page", FIELDS(device_configuration)},
    {0x11, -1, "Medium Partition Page(1)", FIELDS(medium_partition_1)},
    {0x12, -1, "Medium Partition Page(2)", TITLE_ONLY},
    {0x13, -1, "Medium Partition Page(3)", TITLE_ONLY},
    {0x14, -1, "Medium Partition Page(4)", TITLE_ONLY},
    {0x1d, -1, "Element Address Assignment", FIELDS(element_addresses)},
    {0x1e, -1, "Transport Geometry Parameters", TITLE_ONLY},
    {0x1f, -1, "Device Capabilities", FIELDS(device_capabilities)},
    {0x38, -1, "CCS Caching Page", FIELDS(ccs_caching)},
};

const PageEntry *find_page(int code, int device_type)
{
    for (const PageEntry &p : page_table)
        if (p.code == code && (p.device_type < 0 || p.device_type == device_type)) return &p;
    return nullptr;
}
