// The codeplug password exchange: digit packing, the prompt count, cancel,
// and the abandon command on every failure.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/UpdatePeer.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::transfer {
namespace {

using testsupport::Group3;
using testsupport::Is;
using testsupport::Payload;
using testsupport::UpdateLinkHost;
using testsupport::UpdatePeer;

std::vector<std::uint16_t> Encode(const std::string& text) {
  std::vector<std::uint16_t> w(2);
  EncodePasswordDigits(text, w.data(), 2);
  return w;
}

TEST(PasswordDigitsTest, Packing) {
  EXPECT_EQ(Encode(""), (std::vector<std::uint16_t>{0xFFFF, 0xFFFF}));
  EXPECT_EQ(Encode("abc-"), (std::vector<std::uint16_t>{0xFFFF, 0xFFFF}));
  EXPECT_EQ(Encode("1234"), (std::vector<std::uint16_t>{0x1234, 0xFFFF}));
  EXPECT_EQ(Encode("12"), (std::vector<std::uint16_t>{0x12FF, 0xFFFF}));
  EXPECT_EQ(Encode("1 2-3a4.5"), (std::vector<std::uint16_t>{0x1234, 0x5FFF}));
  EXPECT_EQ(Encode("0987654321"), (std::vector<std::uint16_t>{0x0987, 0x6543}));
  // Position 12 and later are never looked at.
  EXPECT_EQ(Encode("..........1.2"), (std::vector<std::uint16_t>{0x1FFF, 0xFFFF}));
  EXPECT_EQ(Encode("...........12"), (std::vector<std::uint16_t>{0x1FFF, 0xFFFF}));
}

struct Checker {
  UpdatePeer peer;
  UpdateLinkHost pc{peer.DevicePath()};
  VYXTransferParmsPassChecker checker;
  std::vector<std::string> answers;  // one per prompt; "<cancel>" cancels
  int prompts = 0;
  Checker() {
    checker.SetLink(&pc.Link());
    checker.SetPrompt([this](std::string& text) {
      const std::string a = prompts < static_cast<int>(answers.size()) ? answers[prompts] : "";
      ++prompts;
      if (a == "<cancel>") return false;
      text = a;
      return true;
    });
  }
};

// Radio: asks for a password until `right` arrives, at most `maxRequests`
// times; records the password bytes it got.
void PasswordRadio(UpdatePeer& p, const std::vector<std::uint8_t>& right, int maxRequests,
                   std::vector<Payload>& got) {
  for (int i = 0; i < maxRequests; ++i) {
    p.Send(Group3(0x0B));
    auto answer = p.Next();
    if (!answer) return;
    got.push_back(*answer);
    if (!Is(*answer, 3, 0x0C)) return;
    if (std::vector<std::uint8_t>(answer->begin() + 2, answer->end()) == right) {
      p.Send(Group3(0x0E));
      return;
    }
  }
}

TEST(PassCheckerTest, AcceptedAtOnceNeedsNoPrompt) {
  for (const std::uint8_t code : {0x0D, 0x0E}) {
    Checker c;
    c.peer.Run([code](UpdatePeer& p) { p.Send(Group3(code)); });
    EXPECT_EQ(c.checker.CheckPassword(), 1);
    c.peer.Join();
    EXPECT_EQ(c.prompts, 0);
    EXPECT_TRUE(c.peer.Received().empty());
  }
}

TEST(PassCheckerTest, WrongThenRightPassword) {
  Checker c;
  c.answers = {"1111", " 12345678 "};
  std::vector<Payload> got;
  c.peer.Run([&](UpdatePeer& p) { PasswordRadio(p, {0x12, 0x34, 0x56, 0x78}, 5, got); });
  EXPECT_EQ(c.checker.CheckPassword(), 1);
  c.peer.Join();
  EXPECT_EQ(c.prompts, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (Payload{3, 0x0C, 0x11, 0x11, 0xFF, 0xFF}));
}

TEST(PassCheckerTest, CancelAbandonsAtOnce) {
  Checker c;
  c.answers = {"<cancel>"};
  std::vector<Payload> got;
  c.peer.Run([&](UpdatePeer& p) { PasswordRadio(p, {1, 2, 3, 4}, 1, got); });
  EXPECT_EQ(c.checker.CheckPassword(), -1);
  c.peer.Join();
  EXPECT_EQ(c.prompts, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(Is(got[0], 3, 0x04));
}

TEST(PassCheckerTest, FourthRequestEndsTheExchange) {
  Checker c;
  c.answers = {"1", "2", "3", "4"};
  std::vector<Payload> got;
  c.peer.Run([&](UpdatePeer& p) { PasswordRadio(p, {9, 9, 9, 9}, 4, got); });
  EXPECT_EQ(c.checker.CheckPassword(), -1);
  c.peer.Join();
  EXPECT_EQ(c.prompts, 3);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_TRUE(Is(got[3], 3, 0x04));
}

TEST(PassCheckerTest, OtherPacketsAbandon) {
  Checker c;
  c.peer.Run([](UpdatePeer& p) {
    p.Send(Group3(0x02, std::vector<std::uint8_t>(128, 0)));
    p.Next();
  });
  EXPECT_EQ(c.checker.CheckPassword(), -1);
  c.peer.Join();
  ASSERT_EQ(c.peer.Received().size(), 1u);
  EXPECT_TRUE(Is(c.peer.Received()[0], 3, 0x04));
  EXPECT_EQ(c.prompts, 0);
}

TEST(PassCheckerTest, DefaultPromptWithoutAHostCancels) {
  VYXTransferParmsPassChecker checker;
  std::string text = "unchanged";
  EXPECT_FALSE(checker.PromptCodeplugPassword(text));
  EXPECT_EQ(text, "unchanged");
}

}  // namespace
}  // namespace bcu::transfer
