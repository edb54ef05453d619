#pragma once
// Confirms a codeplug download: reads the codeplug back out of the radio (a
// second upload) and compares it word for word with what was sent, up to the
// ImageLength of the image sent. The block sums of the download only vouch
// for pairs of blocks on the line; this vouches for what the radio stored.
#include <cstdint>
#include <span>
#include <string>

#include "transfer/VYXTransferParmsPassChecker.h"

namespace bcu::link {
struct CommLink;
}
namespace bcu::platform {
class Host;
}

namespace bcu::transfer {

enum class ReadBackVerdict {
  kSame,     // the radio holds every word that was sent
  kDiffers,  // it holds something else (or less)
  kNotRead,  // the upload failed: nothing is known
};

struct ReadBackResult {
  ReadBackVerdict verdict = ReadBackVerdict::kNotRead;
  std::int32_t comparedWords = 0;        // the words that had to match
  std::int32_t bytesRead = 0;            // by the read-back upload
  std::int32_t firstDifferentWord = -1;  // kDiffers: where
  std::int32_t uploadResult = 0;         // the upload's own result
};

// The words of `sent` (words high byte first) that a read-back must match: its
// ImageLength when it starts with a radio block, all of it otherwise; never
// more than it holds.
std::int32_t WordsToCompare(std::span<const std::uint8_t> sent);

// Compares what was read back with what was sent.
ReadBackResult CompareReadBack(std::span<const std::uint8_t> sent,
                               std::span<const std::uint8_t> read);

// Uploads the codeplug on `link` (open, framed) and compares it with `sent`.
// `host` serves the password exchange as in any transfer (it may be null).
// When the radio asks for its password, `knownPassword` (the one the download
// just used; null: none) is given first, so the user is not asked again.
ReadBackResult ReadBackCodeplug(link::CommLink& link, platform::Host* host,
                                const std::string* knownPassword,
                                std::span<const std::uint8_t> sent);

}  // namespace bcu::transfer
