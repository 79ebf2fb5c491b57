// Generates the library's two firmware image tables: VUKImage (Intel HEX lines for the boot
// loader) and HarlonImage (32-byte output reports that frame an Intel HEX file for the
// "nRFUSBDongle" receiver).
//
//   generate_image_tables OUTPUT_DIR                       the placeholder tables
//   generate_image_tables OUTPUT_DIR HEX_FILE TABLE_FILE   the tables of the maker's two files
//
// Either way it writes OUTPUT_DIR/vuk_image.cpp and harlon_image.cpp.
//
// The placeholders' firmware bytes are deterministic filler: byte i of an image's address space
// is the i-th output of a 32-bit xorshift generator seeded per image, high byte taken. Every
// Intel HEX record carries its valid checksum (the two's complement of the sum of its bytes).
//
// HarlonImage's "LCRC" check value is the CRC-32 of the image's data bytes in record order
// (the data fields of its data records, nothing of the record framing): the reflected
// polynomial 0xEDB88320, initial value 0xFFFFFFFF, final value inverted (the CRC-32 of zlib and
// Ethernet). Its eight 4-bit digits stand in bytes 8 to 15 of the check frame, most significant
// first.
//
// The maker's files are text, one entry per line; a line ends with LF or CR LF (the last one
// may lack it), and a last line "end" may follow the entries. No blank lines, no spaces.
// - HEX_FILE: exactly kVUKLines Intel HEX records, ':' and hex digits of either case, each with
//   its byte count matching its length, at most 16 data bytes (a table slot's 43 characters), a
//   record type 00 to 05 and a valid checksum. The last record, and only it, is the end-of-file
//   record (type 01, no data). Written to the table upper-cased.
// - TABLE_FILE: exactly kHarlonRows rows of 64 hex digits of either case, each one 32-byte
//   output report. Written to the table lower-cased.
// Anything else fails with "FILE:LINE: what is wrong" and no table is written.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/images.h"

namespace {

struct Record {
  std::uint16_t address;
  std::vector<std::uint8_t> data;
  std::uint8_t type;
};

// A run of data records, each `size` bytes, covering [first, first + count * size).
struct Run {
  std::uint16_t first;
  int count;
  int size;
};

class Filler {
 public:
  explicit Filler(std::uint32_t seed) : state_(seed) {}
  std::uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<std::uint8_t>(state_ >> 24);
  }

 private:
  std::uint32_t state_;
};

std::vector<Record> BuildRecords(const std::vector<Run>& runs, std::uint32_t seed) {
  Filler filler(seed);
  std::vector<Record> records;
  for (const Run& run : runs) {
    for (int k = 0; k < run.count; ++k) {
      Record record{static_cast<std::uint16_t>(run.first + k * run.size), {}, 0x00};
      for (int i = 0; i < run.size; ++i) record.data.push_back(filler.Next());
      records.push_back(record);
    }
  }
  records.push_back({0x0000, {}, 0x01});  // end of file
  return records;
}

std::string HexLine(const Record& record) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(record.data.size()),
                                  static_cast<std::uint8_t>(record.address >> 8),
                                  static_cast<std::uint8_t>(record.address & 0xFF), record.type};
  bytes.insert(bytes.end(), record.data.begin(), record.data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
  bytes.push_back(static_cast<std::uint8_t>(0x100 - sum));
  std::string line = ":";
  char pair[3];
  for (std::uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    line += pair;
  }
  return line;
}

std::string HexRow(const std::uint8_t (&report)[32]) {
  std::string row;
  char pair[3];
  for (std::uint8_t byte : report) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    row += pair;
  }
  return row;
}

std::uint32_t Crc32(const std::vector<Record>& records) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const Record& record : records) {
    for (std::uint8_t byte : record.data) {
      crc ^= byte;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

// The report-table rows: start frame, a triple per record, check frame.
std::vector<std::string> HarlonRows(const std::vector<Record>& records) {
  constexpr int kTextStart = 6, kPartChars = 19;
  constexpr std::uint8_t kTags[3] = {0x11, 0x22, 0x33};
  constexpr std::uint8_t kLastPartTail[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x2F};
  std::vector<std::string> rows;
  std::uint8_t start[32] = {0x03, 0, 0, 0, 'B', 'L', 'S', 'T'};
  rows.push_back(HexRow(start));
  for (const Record& record : records) {
    const std::string text = HexLine(record);
    for (int part = 0; part < 3; ++part) {
      std::uint8_t row[32] = {0x03, 0, 0, 0, 0x17, kTags[part]};
      const std::size_t from = static_cast<std::size_t>(part * kPartChars);
      const std::string share = from < text.size() ? text.substr(from, kPartChars) : "";
      for (std::size_t i = 0; i < share.size(); ++i) {
        row[kTextStart + i] = static_cast<std::uint8_t>(share[i]);
      }
      if (part == 2) {
        for (int i = 0; i < 6; ++i) row[26 + i] = kLastPartTail[i];
      }
      rows.push_back(HexRow(row));
    }
  }
  std::uint8_t check[32] = {0x03, 0, 0, 0, 'L', 'C', 'R', 'C'};
  const std::uint32_t crc = Crc32(records);
  for (int digit = 0; digit < 8; ++digit) {
    check[8 + digit] = static_cast<std::uint8_t>((crc >> (28 - 4 * digit)) & 0xF);
  }
  rows.push_back(HexRow(check));
  return rows;
}

bool WriteTable(const std::string& path, const char* name, int slotBytes,
                const std::vector<std::string>& entries, const char* about) {
  std::ofstream out(path, std::ios::binary);
  out << "// Generated by tools/image_tables/generate_image_tables.cpp; do not edit.\n"
      << "// " << about << "\n"
      << "// clang-format off\n"
      << "#include \"firmware/images.h\"\n\n"
      << "namespace zavn::firmware {\n\n"
      << "const char " << name << "[][" << slotBytes << "] = {\n";
  for (const std::string& entry : entries) out << "    \"" << entry << "\",\n";
  out << "    \"end\",\n};\n\n}  // namespace zavn::firmware\n";
  return static_cast<bool>(out);
}

// The maker's files: what is wrong, with the file and line it is on.
struct FileFault {
  std::string path;
  std::size_t line = 0;  // from 1; 0 when the file as a whole is at fault
  std::string what;
};

// The lines of a text file, without their LF or CR LF, less a last line "end".
bool ReadEntries(const std::string& path, std::vector<std::string>& entries, FileFault& fault) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fault = {path, 0, "cannot be read"};
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    entries.push_back(line);
  }
  if (!entries.empty() && entries.back() == "end") entries.pop_back();
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Why `text` from character `first` on is not all hex digits, or "".
std::string DigitFault(const std::string& text, std::size_t first) {
  if (text.empty()) return "a blank line";
  for (std::size_t i = first; i < text.size(); ++i) {
    if (DigitValue(text[i]) < 0) {
      return "character " + std::to_string(i + 1) + " is not a hex digit";
    }
  }
  return "";
}

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

// Why `line` is not a record the VUK table takes, or "". `last`: the file's last record, which
// must be the end-of-file record.
std::string RecordFault(const std::string& line, bool last) {
  constexpr std::size_t kMaxChars = zavn::firmware::kVUKLineSlot - 1;
  if (!line.empty() && line[0] != ':') return "a record begins with ':'";
  if (std::string fault = DigitFault(line, 1); !fault.empty()) return fault;
  if (line.size() % 2 == 0 || line.size() < 11) {
    return "a record is ':' and 10 or more digits in pairs";
  }
  std::vector<unsigned> bytes;
  unsigned sum = 0;
  for (std::size_t i = 1; i < line.size(); i += 2) {
    bytes.push_back(static_cast<unsigned>(16 * DigitValue(line[i]) + DigitValue(line[i + 1])));
    sum += bytes.back();
  }
  const unsigned count = bytes[0], type = bytes[3];
  if (bytes.size() != 5 + count) {
    return "the byte count says " + std::to_string(count) + " data bytes, the record holds " +
           std::to_string(bytes.size() - 5);
  }
  if (line.size() > kMaxChars) {
    return "longer than the " + std::to_string(kMaxChars) + " characters of a table slot";
  }
  if (type > 5) return "record type " + Hex2(type) + " is not one of 00 to 05";
  if ((sum & 0xFFu) != 0) {
    return "the checksum is " + Hex2(bytes.back()) + ", the record's bytes need " +
           Hex2(bytes.back() - sum);
  }
  if (last && (type != 1 || count != 0)) return "the last record must be the end-of-file record";
  if (!last && type == 1) return "an end-of-file record before the last record";
  return "";
}

std::string RowFault(const std::string& row, bool /*last*/) {
  if (std::string fault = DigitFault(row, 0); !fault.empty()) return fault;
  if (row.size() != zavn::firmware::kHarlonRowChars) {
    return "a row is 64 hex digits, this one " + std::to_string(row.size());
  }
  return "";
}

int Upper(int c) {
  return std::toupper(c);
}
int Lower(int c) {
  return std::tolower(c);
}

// The entries of a maker's file: each one checked (`entryFault` is told whether it is the last
// one the table holds), put in the table's case, and counted.
using EntryFault = std::string (*)(const std::string& entry, bool last);
bool ReadImageFile(const std::string& path, std::size_t expected, const char* noun,
                   EntryFault entryFault, int (*toCase)(int), std::vector<std::string>& entries,
                   FileFault& fault) {
  if (!ReadEntries(path, entries, fault)) return false;
  for (std::size_t n = 0; n < entries.size() && n < expected; ++n) {
    if (std::string what = entryFault(entries[n], n + 1 == expected); !what.empty()) {
      fault = {path, n + 1, what};
      return false;
    }
    for (char& c : entries[n]) c = static_cast<char>(toCase(c));
  }
  if (entries.size() < expected) {
    fault = {path, entries.size() + 1,
             "the file ends after " + std::to_string(entries.size()) + " " + noun +
                 "; the table holds exactly " + std::to_string(expected)};
    return false;
  }
  if (entries.size() > expected) {
    fault = {
        path, expected + 1,
        std::string("more ") + noun + " than the " + std::to_string(expected) + " the table holds"};
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [HEX_FILE REPORT_TABLE_FILE]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  std::vector<std::string> lines, rows;
  if (argc == 4) {
    FileFault fault;
    if (!ReadImageFile(argv[2], zavn::firmware::kVUKLines, "records", RecordFault, Upper, lines,
                       fault) ||
        !ReadImageFile(argv[3], zavn::firmware::kHarlonRows, "rows", RowFault, Lower, rows,
                       fault)) {
      const std::string at = fault.line == 0 ? "" : ":" + std::to_string(fault.line);
      std::fprintf(stderr, "%s: %s%s: %s\n", argv[0], fault.path.c_str(), at.c_str(),
                   fault.what.c_str());
      return 1;
    }
  } else {
    // VUKImage: 0x1600..0x160F, a hole of two bytes, 16-byte records up to 0x7501, ten bytes at
    // 0x7502, a hole up to 0x7BFC, three bytes at 0x7BFD.
    const std::vector<Record> vuk = BuildRecords(
        {{0x1600, 1, 16}, {0x1612, 1519, 16}, {0x7502, 1, 10}, {0x7BFD, 1, 3}}, 0x5A564E31u);
    for (const Record& record : vuk) lines.push_back(HexLine(record));
    // HarlonImage: 0x1C00..0x1EB5 in 16-byte records and a 6-byte tail; 0x6000..0x610F in
    // 8-byte records; 0x6110..0x77FF in 16-byte records.
    rows = HarlonRows(BuildRecords(
        {{0x1C00, 43, 16}, {0x1EB0, 1, 6}, {0x6000, 34, 8}, {0x6110, 367, 16}}, 0x48524C4Eu));
  }

  const bool written =
      WriteTable(dir + "/vuk_image.cpp", "VUKImage", 44, lines,
                 "VUKImage: one Intel HEX record per 44-byte slot, then \"end\".") &&
      WriteTable(dir + "/harlon_image.cpp", "HarlonImage", 65, rows,
                 "HarlonImage: one 32-byte output report as 64 hex digits per 65-byte slot, "
                 "then \"end\".");
  if (!written) {
    std::fprintf(stderr, "%s: cannot write into %s\n", argv[0], dir.c_str());
    return 1;
  }
  return 0;
}
