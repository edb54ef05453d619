#pragma once
// Reading Motorola S-record lines as the downloads stream them: the data bytes
// of S1, S2 and S3 records in file order; addresses are neither sent nor
// compared; the record checksum is not verified.
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace bcu::link {

// Record kinds by the first two characters.
enum SRecordKindValue : int {
  kSRecordOther = -1,
  kSRecordS1 = 0,
  kSRecordS2 = 1,
  kSRecordS3 = 2,
  kSRecordS0 = 3,
};

// The longest piece of a line that one read takes (a longer line is read in
// pieces, as the downloads always have).
inline constexpr std::size_t kSRecordLineMax = 299;

// 0 "S1", 1 "S2", 2 "S3", 3 "S0", else -1.
int SRecordKind(std::string_view line);
// The line begins "S9" or "S7".
bool SRecordIsEnd(std::string_view line);
// Data bytes of an S1/S2/S3 record: byte count - address bytes - 1 (may be
// negative for a malformed record); 0 for other kinds.
int SRecordDataLength(std::string_view line);
// Index of the first data character of a kind-0..2 record (8, 10, 12).
int SRecordFirstData(int kind);
// Progress weight of a kind-0..2 record (3, 3, 4).
int SRecordWeight(int kind);
// Bytes A (characters pos, pos+1) and B (pos+2, pos+3) as the word B*256 + A,
// so that A goes out first. Each hex digit is read on its own; a character
// that is not a hex digit, or lies beyond the line, counts as 0.
std::uint16_t SRecordHexWord(std::string_view line, int pos);
// One byte from the two hex digits at pos, pos+1 (same rules).
std::uint8_t SRecordHexByte(std::string_view line, int pos);

// Reads the next line, or piece of a line, of at most kSRecordLineMax
// characters counting its line end; CR LF and LF both end a line and are not
// kept. False at the end of the stream with nothing read.
bool SRecordReadLine(std::istream& in, std::string& line);

// Size of a stream in bytes (0 when it cannot be told); the read position is
// left where it was.
std::int64_t StreamSize(std::istream& in);

}  // namespace bcu::link
