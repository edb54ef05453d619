#pragma once
// The demo firmware set that a default build embeds: an "Application/Boot"
// updater for series 4 mobile radios with an application loader, twelve code
// chunks, a boot loader and boot code, all Motorola S-records with CR LF line
// ends and deterministic pseudo-random data.
//
// The code image is cut like a production image: eleven chunks of 21,312
// records of 48 bytes (16 data bytes each) and a last chunk of 725,046 bytes
// that ends with a shorter data record, an S6 record count and the S9 record.
#include <cstdint>
#include <string>
#include <vector>

#include "app/ResourceAttributes.h"
#include "resources/FirmwareSetCheck.h"

namespace bcu::tools {

// One image of the set (loader, code, boot loader, boot code).
struct DemoImage {
  std::string baseName;             // "Loader", "Code", "Loader_Boot", "Code_Boot"
  std::string extension;            // "s2" or "s3": file extension of its chunk files
  std::vector<std::string> chunks;  // chunk texts in order; their concatenation is the image
};

// The attributes of the demo set ("Application/Boot", series 4, boot 4.2).
app::ResourceAttributes DemoAttributes();
// The demo set's name and release.
inline constexpr const char* kDemoSetName = "BrisantCodeUpdater_6700_Series_4";
inline constexpr const char* kDemoSetRelease = "4.2";
// What the demo set's attributes.json says: the attributes, name and release.
resources::FirmwareSetDescription DemoDescription();

// All images of the demo set, generated afresh (about 12 MB of text).
std::vector<DemoImage> DemoImages();

// The data bytes that the image `baseName` carries, in file order, generated
// the same way as its records (what a radio must receive).
std::vector<std::uint8_t> DemoImageData(const std::string& baseName);

// One S-record line with CR LF: type '0'..'9', address, data; the byte count and
// the checksum are computed. The address takes 2, 3 or 4 bytes by type.
std::string MakeSRecord(char type, std::uint32_t address, const std::uint8_t* data, std::size_t n);

}  // namespace bcu::tools
