#include "link/DspDownload.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/StopRequest.h"

#include "DownloadRig.h"

namespace bcu::test {
namespace {

struct Section {
  std::uint32_t startWords;
  std::vector<std::uint8_t> data;  // raw data, 2 bytes a word
  int page;
  std::uint16_t selector = 0;  // platform code 3 only
};

// A DSP object file with the given sections (header layout by platform code).
std::string DspFile(const std::vector<Section>& sections, int platformCode = 0,
                    bool optionalHeader = false) {
  const std::size_t headersAt = optionalHeader ? 50 : 22;
  const std::size_t headerSize = platformCode == 3 ? 48 : 40;
  std::string f(headersAt + headerSize * sections.size(), '\0');
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    f[at] = static_cast<char>(v & 0xFF);
    f[at + 1] = static_cast<char>(v >> 8 & 0xFF);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
  };
  f[0] = '\x93';
  put16(2, static_cast<std::uint32_t>(sections.size()));
  put16(16, optionalHeader ? 28 : 0);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const auto& s = sections[i];
    const std::size_t h = headersAt + i * headerSize;
    put32(h + 12, s.startWords);
    put32(h + 16, static_cast<std::uint32_t>(s.data.size() / 2));
    put32(h + 20, static_cast<std::uint32_t>(f.size()));
    if (platformCode == 3) {
      put16(h + 14, static_cast<std::uint32_t>(s.page));
      put16(h + 46, s.selector);
    } else {
      put16(h + 38, static_cast<std::uint32_t>(s.page) << 8);
    }
    f.append(s.data.begin(), s.data.end());
  }
  return f;
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = seed = static_cast<std::uint8_t>(seed * 29 + 3);
  return v;
}

struct DspResult {
  int result;
  std::vector<std::vector<std::uint8_t>> pages;
  std::vector<std::uint8_t> loader;
};

DspResult RunDsp(RadioRig& rig, const std::string& dsp, const std::string& directory,
                 int platformCode = 0, std::vector<std::uint8_t>* loaderData = nullptr,
                 const std::string& loaderText = "") {
  std::vector<std::uint8_t> l;
  std::istringstream loaderFile(loaderText.empty() ? S0() + Records('3', {16, 16, 30}, l) + S9()
                                                   : loaderText);
  std::istringstream dspFile(dsp);
  DspResult r;
  r.result = link::DspDownload(rig.host.link, loaderFile, dspFile, platformCode,
                               StatusLog::Callback, &rig.status, directory, rig.bar);
  if (r.result == link::kCommSuccess) {
    // The end command takes no reply: wait until the radio has seen it.
    EXPECT_TRUE(rig.WaitRadio([](sim::VirtualRadio& radio) {
      for (const auto* p : radio.DspPages())
        if (!p->complete) return false;
      return true;
    }));
  }
  rig.radio.With([&](sim::VirtualRadio& radio) {
    for (const auto* p : radio.DspPages()) r.pages.push_back(p->data);
    if (const auto* f = radio.LastFile(sim::ReceivedFile::Kind::kLoader)) r.loader = f->data;
    return 0;
  });
  if (loaderData) *loaderData = l;
  return r;
}

class DspDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "bcu-dsp-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }
  std::string dir_;
};

TEST_F(DspDownloadTest, LoaderRecordWithoutChecksumStillSendsAllItsData) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  // Byte count 0x09: 4 address bytes, 4 data bytes, and the checksum is missing.
  const std::string loader = "S30900001000A1B2C3D4\r\n" + S9();
  const DspResult r = RunDsp(rig, DspFile({{0, Pattern(8, 1), 0}}), dir_, 0, nullptr, loader);
  ASSERT_EQ(r.result, link::kCommSuccess);
  EXPECT_EQ(r.loader, PadToPair({0xA1, 0xB2, 0xC3, 0xD4}, 0x20));
}

TEST_F(DspDownloadTest, PagesZeroAndFiveGoOutAsPageOneAndTwoOfTwo) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const auto a = Pattern(200, 1), b = Pattern(100, 2), c = Pattern(300, 3);
  // Page 0: a at word 0 and b at word 150 (a gap of 100 zero words);
  // page 5: c; page 1 and page 3 are not written.
  const std::string dsp =
      DspFile({{0, a, 0}, {10, Pattern(40, 4), 1}, {150, b, 0}, {4, c, 5}, {0, Pattern(8, 5), 3}});
  std::vector<std::uint8_t> loaderData;
  const DspResult r = RunDsp(rig, dsp, dir_, 0, &loaderData);
  ASSERT_EQ(r.result, link::kCommSuccess);
  // The S0 line counts as an S3 record of the loader: of its header "TEST"
  // the bytes from character 12 on, "ST", go out.
  loaderData.insert(loaderData.begin(), {'S', 'T'});
  EXPECT_EQ(r.loader, PadToPair(loaderData, 0x20));
  std::vector<std::uint8_t> page0(400, 0);
  std::copy(a.begin(), a.end(), page0.begin());
  std::copy(b.begin(), b.end(), page0.begin() + 300);
  std::vector<std::uint8_t> page5(8, 0);
  page5.insert(page5.end(), c.begin(), c.end());
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.pages[0], PadToPair(page0, 0x20));
  EXPECT_EQ(r.pages[1], PadToPair(page5, 0x20));
  EXPECT_TRUE(rig.status.Has("Downloading page 1 of 2 from input DSP file ..."));
  EXPECT_TRUE(rig.status.Has("Downloading page 2 of 2 from input DSP file ..."));
  EXPECT_EQ(rig.status.texts.front(), "Downloading Loader code...");
  EXPECT_EQ(rig.status.Last(), "Download finished");
  EXPECT_TRUE(Files().empty()) << "page files are deleted after the end command";
}

TEST_F(DspDownloadTest, NoWrittenPageStillStartsAndEnds) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const std::string dsp = DspFile({{0, Pattern(20, 1), 1}, {0, Pattern(20, 2), 3}, {0, {}, 4}});
  const DspResult r = RunDsp(rig, dsp, dir_);
  ASSERT_EQ(r.result, link::kCommSuccess);
  EXPECT_TRUE(r.pages.empty());
  for (const auto& t : rig.status.texts) EXPECT_EQ(t.find("Downloading page"), std::string::npos);
  EXPECT_EQ(rig.status.Last(), "Download finished");
  EXPECT_EQ(rig.radio.With([](sim::VirtualRadio& r) { return r.Counters().dspPagesWritten; }), 0);
}

TEST_F(DspDownloadTest, LongSectionIsCopiedInPiecesToConsecutiveOffsets) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const auto big = Pattern(2 * 40001, 9);  // 40001 words: pieces of 16000, 16000, 8001
  const DspResult r = RunDsp(rig, DspFile({{0, big, 2}, {0, {}, 7}}, 0, true), dir_);
  ASSERT_EQ(r.result, link::kCommSuccess);
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_TRUE(r.pages[0] == PadToPair(big, 0x20));
  EXPECT_EQ(r.pages[1], std::vector<std::uint8_t>(256, 0x20));  // size 0 still marks the page
  EXPECT_TRUE(rig.status.Has("Downloading page 2 of 2 from input DSP file ..."));
}

TEST_F(DspDownloadTest, PlatformCodeThreeUsesItsOwnHeaderLayout) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const auto a = Pattern(64, 1), b = Pattern(64, 2), c = Pattern(64, 3);
  const std::string dsp = DspFile({{0, a, 0}, {2, b, 1, 0x0100}, {0, c, 8}, {0, b, 2, 0x0001}}, 3);
  const DspResult r = RunDsp(rig, dsp, dir_, 3);
  ASSERT_EQ(r.result, link::kCommSuccess);
  // Page 0 and page 1 (its selector has only high bits set); page 8 is not
  // written on this platform and page 2's section is skipped by its selector.
  // The page index shares its bytes with the high half of the start address,
  // so page 1's data lies 2 * 0x10002 bytes into its image.
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.pages[0], PadToPair(a, 0x20));
  std::vector<std::uint8_t> page1(2 * 0x10002, 0);
  page1.insert(page1.end(), b.begin(), b.end());
  EXPECT_TRUE(r.pages[1] == PadToPair(page1, 0x20));
}

TEST_F(DspDownloadTest, UnwritableFolderFallsBackToTheCurrentOne) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const DspResult r = RunDsp(rig, DspFile({{0, Pattern(64, 1), 0}}), dir_ + "missing/");
  std::filesystem::current_path(old);
  ASSERT_EQ(r.result, link::kCommSuccess);
  ASSERT_EQ(r.pages.size(), 1u);
  bool said = false;
  for (const auto& t : rig.status.texts) said |= t.find("current folder") != std::string::npos;
  EXPECT_TRUE(said);
  EXPECT_TRUE(Files().empty());
}

TEST_F(DspDownloadTest, StopRequestedSendsNothing) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  link::StopRequest stop;
  rig.host.link.stop = &stop;
  stop.Request();
  const DspResult r = RunDsp(rig, DspFile({{0, Pattern(64, 1), 0}}), dir_);
  EXPECT_EQ(r.result, link::kCommTimedOut);
  EXPECT_EQ(rig.status.Last(), "DSP download timed out or canceled by user.");
  EXPECT_EQ(rig.radio.With([](sim::VirtualRadio& v) { return v.Counters().framesReceived; }), 0);
  EXPECT_TRUE(Files().empty());
}

TEST_F(DspDownloadTest, LinkPlantedAsAPageFileIsNotFollowed) {
  // Someone else's file, and a link to it under a page file's name.
  const std::string victim = dir_ + "victim";
  { std::ofstream(victim) << "keep me"; }
  std::filesystem::create_directory(dir_ + "pages");
  std::filesystem::create_symlink(victim, dir_ + "pages/Page0");
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir_);  // where a fallback would write
  RunDsp(rig, DspFile({{0, Pattern(64, 1), 0}}), dir_ + "pages/");
  std::filesystem::current_path(old);
  std::ifstream in(victim);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "pages/Page0"));
}

// A DSP file that does not hold what its header promises ends the download
// with a communication problem and says why; no page goes out as if whole.
TEST_F(DspDownloadTest, DamagedObjectFilesEndWithTheirReason) {
  const std::string whole = DspFile({{0, Pattern(64, 1), 0}, {0, Pattern(600, 2), 5}});
  const std::string emptyFirst = DspFile({{0, {}, 0}, {0, Pattern(600, 2), 5}});
  struct Case {
    std::string file;
    std::string text;
  };
  const Case cases[] = {
      {whole.substr(0, 17), "DSP file cannot be used (it ends before its section table)."},
      {emptyFirst.substr(0, 22 + 40 + 30),
       "DSP file cannot be used (its section table ends after 1 of 2 sections)."},
      {whole.substr(0, whole.size() - 1),
       "DSP file cannot be used (section 2 needs 600 bytes at offset " +
           std::to_string(whole.size() - 600) + " and the file ends before them)."},
      {DspFile({{0, Pattern(8, 3), 0}, {8u << 20, Pattern(8, 4), 0}}),
       "DSP file cannot be used (section 2 reaches beyond the 16 MB a page image may hold)."},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    ASSERT_TRUE(rig.Open());
    const DspResult r = RunDsp(rig, c.file, dir_);
    EXPECT_EQ(r.result, link::kCommProblem) << c.text;
    EXPECT_EQ(rig.status.Last(), c.text);
    EXPECT_FALSE(rig.status.Has("Download finished"));
    for (const auto& page : r.pages) EXPECT_TRUE(page.empty()) << c.text;
  }
}

TEST_F(DspDownloadTest, APageFileThatCannotBeReadIsNotSentAsWhole) {
  LinkHost host;
  StatusLog status;
  platform::ProgressValues bar;
  link::DspDownloader download(host.link, 0, StatusLog::Callback, &status, bar);
  const std::string name = dir_ + "Page0";
  std::FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const auto data = Pattern(300, 4);
  ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
  // Open for writing only: its size is known, its bytes cannot be read.
  EXPECT_FALSE(download.DspSendPage(f, 1));
  std::fclose(f);
  EXPECT_FALSE(download.ReadError().empty());
  EXPECT_EQ(download.Blocks().blocksSent, 0);
}

TEST_F(DspDownloadTest, SilentRadioGivesTheDspTimeoutText) {
  sim::RadioConfig config;
  config.faults.silentAfterBlocks = 3;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  const DspResult r = RunDsp(rig, DspFile({{0, Pattern(2000, 1), 0}}), dir_);
  EXPECT_EQ(r.result, link::kCommTimedOut);
  EXPECT_EQ(rig.status.Last(), "DSP download timed out or canceled by user.");
  // The page files stay after a failure; a new download truncates them.
  EXPECT_EQ(Files().size(), 9u);
}

}  // namespace
}  // namespace bcu::test
